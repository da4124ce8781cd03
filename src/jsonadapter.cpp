#include "jsonadapter.h"

#include <cctype>
#include <cmath>
#include <limits>

namespace json {
namespace {

// Skips white space and comments from `i`; returns false on an unterminated
// block comment.
bool skipSpace(std::string_view t, size_t& i) {
    while (i < t.size()) {
        char c = t[i];
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            ++i;
        } else if (c == '/' && i + 1 < t.size() && t[i + 1] == '/') {
            i += 2;
            while (i < t.size() && t[i] != '\n')
                ++i;
        } else if (c == '/' && i + 1 < t.size() && t[i + 1] == '*') {
            size_t end = t.find("*/", i + 2);
            if (end == std::string_view::npos)
                return false;
            i = end + 2;
        } else {
            break;
        }
    }
    return true;
}

// Finds the end of the top-level object starting at `start` ('{') and checks
// the nesting limit. Returns the index one past the closing brace, or npos.
size_t objectEnd(std::string_view t, size_t start) {
    int depth = 0;
    size_t i = start;
    while (i < t.size()) {
        char c = t[i];
        if (c == '"') {
            ++i;
            while (i < t.size() && t[i] != '"') {
                if (t[i] == '\\')
                    ++i;
                ++i;
            }
            if (i >= t.size())
                return std::string_view::npos;
            ++i;
            continue;
        }
        if (c == '/' && i + 1 < t.size() && (t[i + 1] == '/' || t[i + 1] == '*')) {
            if (!skipSpace(t, i))
                return std::string_view::npos;
            continue;
        }
        if (c == '{' || c == '[') {
            if (++depth > kNestingLimit)
                return std::string_view::npos;
        } else if (c == '}' || c == ']') {
            if (--depth == 0)
                return i + 1;
            if (depth < 0)
                return std::string_view::npos;
        }
        ++i;
    }
    return std::string_view::npos;
}

// Builds the value like the library's own DOM parser and notes the literal
// text of every fraction or exponent number that is a direct member of the
// top-level object (the DOM keeps only the double).
class LiteralRecordingBuilder {
  public:
    using Dom = nlohmann::detail::json_sax_dom_parser<Value>;
    using number_integer_t = Value::number_integer_t;
    using number_unsigned_t = Value::number_unsigned_t;
    using number_float_t = Value::number_float_t;
    using string_t = Value::string_t;
    using binary_t = Value::binary_t;

    LiteralRecordingBuilder(Value& root, NumberLiterals* literals)
        : dom_(root, false), literals_(literals) {}

    bool null() { return other(), dom_.null(); }
    bool boolean(bool v) { return other(), dom_.boolean(v); }
    bool number_integer(number_integer_t v) { return other(), dom_.number_integer(v); }
    bool number_unsigned(number_unsigned_t v) { return other(), dom_.number_unsigned(v); }
    bool number_float(number_float_t v, const string_t& s) {
        if (depth_ == 1 && literals_)
            (*literals_)[key_] = s;
        return dom_.number_float(v, s);
    }
    bool string(string_t& v) { return other(), dom_.string(v); }
    bool binary(binary_t& v) { return other(), dom_.binary(v); }
    bool start_object(std::size_t n) {
        other();
        ++depth_;
        return dom_.start_object(n);
    }
    bool key(string_t& k) {
        if (depth_ == 1)
            key_ = k;
        return dom_.key(k);
    }
    bool end_object() {
        --depth_;
        return dom_.end_object();
    }
    bool start_array(std::size_t n) {
        other();
        ++depth_;
        return dom_.start_array(n);
    }
    bool end_array() {
        --depth_;
        return dom_.end_array();
    }
    template <class Exception>
    bool parse_error(std::size_t pos, const std::string& token, const Exception& ex) {
        return dom_.parse_error(pos, token, ex);
    }
    bool is_errored() const { return dom_.is_errored(); }

  private:
    // A later value of a repeated name replaces an earlier number.
    void other() {
        if (depth_ == 1 && literals_)
            literals_->erase(key_);
    }

    Dom dom_;
    NumberLiterals* literals_;
    int depth_ = 0;
    std::string key_;
};

} // namespace

bool parseObject(std::string_view text, Value& out, NumberLiterals* literals) {
    out = Value();
    if (literals)
        literals->clear();
    size_t i = 0;
    if (!skipSpace(text, i) || i >= text.size() || text[i] != '{')
        return false;
    size_t end = objectEnd(text, i);
    if (end == std::string_view::npos)
        return false;
    try {
        // The library's object insertion keeps the first position of a
        // repeated name and assigns the later value, the behaviour we rely on.
        Value v;
        NumberLiterals found;
        LiteralRecordingBuilder builder(v, literals ? &found : nullptr);
        std::string_view object = text.substr(i, end - i);
        bool ok = Value::sax_parse(object.begin(), object.end(), &builder,
                                   Value::input_format_t::json, true, true);
        if (!ok || builder.is_errored() || !v.is_object())
            return false;
        out = std::move(v);
        if (literals)
            *literals = std::move(found);
        return true;
    } catch (const nlohmann::json::exception&) {
        out = Value();
        return false;
    }
}

std::string dump(const Value& v) {
    // Invalid UTF-8 in strings is replaced rather than thrown on: a reply from
    // a plug-in must not be able to abort the response.
    return v.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string asText(const Value& v) {
    if (v.is_string())
        return v.get_ref<const std::string&>();
    return dump(v);
}

bool hasMember(const Value& obj, const char* key) {
    return obj.is_object() && obj.find(key) != obj.end();
}

std::string memberText(const Value& obj, const char* key) {
    if (!obj.is_object())
        return std::string();
    auto it = obj.find(key);
    if (it == obj.end())
        return std::string();
    return asText(*it);
}

int64_t leadingInteger(std::string_view s) {
    size_t i = 0;
    while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i])))
        ++i;
    bool neg = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        neg = s[i] == '-';
        ++i;
    }
    const int64_t maxv = std::numeric_limits<int64_t>::max();
    int64_t v = 0;
    bool saturated = false;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
        int d = s[i] - '0';
        if (!saturated) {
            if (v > (maxv - d) / 10)
                saturated = true;
            else
                v = v * 10 + d;
        }
        ++i;
    }
    if (saturated)
        return neg ? std::numeric_limits<int64_t>::min() : maxv;
    return neg ? -v : v;
}

int64_t asInteger64(const Value& v) {
    switch (v.type()) {
    case Value::value_t::number_integer:
        return v.get<int64_t>();
    case Value::value_t::number_unsigned: {
        uint64_t u = v.get<uint64_t>();
        return u > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())
                   ? std::numeric_limits<int64_t>::max()
                   : static_cast<int64_t>(u);
    }
    case Value::value_t::number_float: {
        double d = v.get<double>();
        if (std::isnan(d))
            return 0;
        if (d >= 9.2e18)
            return std::numeric_limits<int64_t>::max();
        if (d <= -9.2e18)
            return std::numeric_limits<int64_t>::min();
        return static_cast<int64_t>(d); // truncates toward zero: 1.9 gives 1
    }
    case Value::value_t::boolean:
        return v.get<bool>() ? 1 : 0;
    case Value::value_t::string: {
        const std::string& s = v.get_ref<const std::string&>();
        if (s == "true")
            return 1;
        return leadingInteger(s);
    }
    default:
        return 0;
    }
}

int32_t asInteger(const Value& v) {
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(asInteger64(v))));
}

std::optional<int32_t> asConfigInteger(const Value& v, const std::string* literal) {
    if (v.is_array() || v.is_object())
        return std::nullopt;
    int64_t x = (literal && v.is_number_float()) ? leadingInteger(*literal) : asInteger64(v);
    if (x < std::numeric_limits<int32_t>::min() || x > std::numeric_limits<int32_t>::max())
        return std::nullopt;
    return static_cast<int32_t>(x);
}

} // namespace json
