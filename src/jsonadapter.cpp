#include "jsonadapter.h"

#include <cctype>
#include <cmath>
#include <limits>
#include <unordered_map>
#include <vector>

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

// Finds the end of the top-level object or array starting at `start` and checks
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

// Builds the value from the parser's events, within the budget. Members are
// appended to their object's storage; a name is found by a scan while the
// object is small and through a hash index once it has grown, so many
// distinct names cost time in proportion to their number. Also notes the
// literal text of every fraction or exponent number that is a direct member
// of the top-level object (the value keeps only the double), or with
// `asWritten` holds every number as its text.
class BudgetedBuilder {
  public:
    using number_integer_t = Value::number_integer_t;
    using number_unsigned_t = Value::number_unsigned_t;
    using number_float_t = Value::number_float_t;
    using string_t = Value::string_t;
    using binary_t = Value::binary_t;

    BudgetedBuilder(Value& root, NumberLiterals* literals, bool asWritten)
        : root_(root), literals_(literals), asWritten_(asWritten) {}

    bool null() { return scalar(Value(nullptr)); }
    bool boolean(bool v) { return scalar(Value(v)); }
    // The library reads every number written with a minus sign as a signed
    // integer (when it fits), so a zero here was written "-0". Integers are
    // otherwise written in the one form they print in.
    bool number_integer(number_integer_t v) {
        return scalar(asWritten_ ? held(v == 0 ? "-0" : std::to_string(v)) : Value(v));
    }
    bool number_unsigned(number_unsigned_t v) {
        return scalar(asWritten_ ? held(std::to_string(v)) : Value(v));
    }
    bool number_float(number_float_t v, const string_t& s) {
        if (literals_ && stack_.size() == 1)
            (*literals_)[key_] = s;
        place(asWritten_ ? held(s) : Value(v));
        return true;
    }
    bool string(string_t& v) { return scalar(Value(std::move(v))); }
    bool binary(binary_t& v) { return scalar(Value(std::move(v))); }
    bool start_object(std::size_t) { return open(Value::object()); }
    bool key(string_t& name) {
        Frame& frame = stack_.back();
        if (++frame.members > kMemberLimit)
            return false;
        if (literals_ && stack_.size() == 1)
            key_ = name;
        slot_ = &memberSlot(frame, std::move(name));
        return true;
    }
    bool end_object() { return close(); }
    bool start_array(std::size_t) { return open(Value::array()); }
    bool end_array() { return close(); }
    template <class Exception> bool parse_error(std::size_t, const std::string&, const Exception&) {
        return false;
    }

  private:
    // Objects smaller than this are searched; a larger one gets its index.
    static constexpr size_t kScannedMembers = 16;

    struct Frame {
        explicit Frame(Value* open) : container(open) {}
        Value* container;
        size_t members = 0;
        std::unordered_map<std::string, size_t> index;
    };

    // The value of member `name`: an existing member of that name (a repeated
    // name keeps its first position), else a new one at the end.
    static Value& memberSlot(Frame& frame, std::string&& name) {
        auto& members = frame.container->get_ref<Value::object_t&>();
        if (frame.index.empty()) {
            if (members.size() < kScannedMembers) {
                for (auto& member : members) {
                    if (member.first == name)
                        return member.second;
                }
                members.emplace_back(std::move(name), nullptr);
                return members.back().second;
            }
            for (size_t i = 0; i < members.size(); ++i)
                frame.index.emplace((members.begin() + i)->first, i);
        }
        auto found = frame.index.emplace(name, members.size());
        if (!found.second)
            return (members.begin() + found.first->second)->second;
        members.emplace_back(std::move(name), nullptr);
        return members.back().second;
    }

    // Puts a complete value where the parse stands: the root, the next
    // element of an array or the value of the member just named. Containers
    // on the stack stay put: their parent grows only after they are closed.
    Value* place(Value&& v) {
        if (stack_.empty()) {
            root_ = std::move(v);
            return &root_;
        }
        Value& parent = *stack_.back().container;
        if (parent.is_array()) {
            auto& elements = parent.get_ref<Value::array_t&>();
            elements.push_back(std::move(v));
            return &elements.back();
        }
        *slot_ = std::move(v);
        return slot_;
    }

    bool scalar(Value&& v) {
        forgetLiteral();
        place(std::move(v));
        return true;
    }

    bool open(Value&& container) {
        forgetLiteral();
        if (stack_.size() >= static_cast<size_t>(kNestingLimit))
            return false;
        stack_.emplace_back(place(std::move(container)));
        return true;
    }

    bool close() {
        stack_.pop_back();
        return true;
    }

    static Value held(const std::string& text) {
        return Value::binary(Value::binary_t::container_type(text.begin(), text.end()));
    }

    // A later value of a repeated name replaces an earlier number.
    void forgetLiteral() {
        if (literals_ && stack_.size() == 1)
            literals_->erase(key_);
    }

    Value& root_;
    NumberLiterals* literals_;
    const bool asWritten_;
    std::vector<Frame> stack_;
    Value* slot_ = nullptr;
    std::string key_;
};

// Parses the object, or with `arrays` the object or array, that starts the
// text; see parseObject.
bool parseContainer(std::string_view text, Value& out, NumberLiterals* literals, bool arrays,
                    size_t* end, bool asWritten = false) {
    out = Value();
    if (literals)
        literals->clear();
    size_t i = 0;
    if (!skipSpace(text, i) || i >= text.size() || !(text[i] == '{' || (arrays && text[i] == '[')))
        return false;
    const size_t close = objectEnd(text, i);
    if (close == std::string_view::npos)
        return false;
    try {
        // Built aside, so a refused text leaves `out` null and frees all of it.
        Value v;
        NumberLiterals found;
        BudgetedBuilder builder(v, literals ? &found : nullptr, asWritten);
        std::string_view container = text.substr(i, close - i);
        if (!Value::sax_parse(container.begin(), container.end(), &builder,
                              Value::input_format_t::json, true, true))
            return false;
        out = std::move(v);
        if (literals)
            *literals = std::move(found);
        if (end)
            *end = close;
        return true;
    } catch (const nlohmann::json::exception&) {
        return false;
    }
}

void appendAsWritten(const Value& v, std::string& out) {
    switch (v.type()) {
    case Value::value_t::object: {
        char separator = '{';
        for (auto it = v.begin(); it != v.end(); ++it) {
            out += separator;
            out += dump(Value(it.key()));
            out += ':';
            appendAsWritten(it.value(), out);
            separator = ',';
        }
        out += separator == '{' ? "{}" : "}";
        break;
    }
    case Value::value_t::array: {
        char separator = '[';
        for (const Value& element : v) {
            out += separator;
            appendAsWritten(element, out);
            separator = ',';
        }
        out += separator == '[' ? "[]" : "]";
        break;
    }
    case Value::value_t::binary: {
        const auto& text = v.get_binary();
        out.append(text.begin(), text.end());
        break;
    }
    default:
        out += dump(v);
        break;
    }
}

} // namespace

bool parseObjectAsWritten(std::string_view text, Value& out) {
    return parseContainer(text, out, nullptr, false, nullptr, true);
}

std::string dumpAsWritten(const Value& v) {
    std::string out;
    appendAsWritten(v, out);
    return out;
}

Value writtenNumber(const Value& v) {
    if (!v.is_binary())
        return v;
    const auto& text = v.get_binary();
    return Value::parse(text.begin(), text.end(), nullptr, false);
}

bool parseObject(std::string_view text, Value& out, NumberLiterals* literals) {
    return parseContainer(text, out, literals, false, nullptr);
}

bool parseDocument(std::string_view text, Value& out, size_t* end) {
    return parseContainer(text, out, nullptr, true, end);
}

bool tryParseObject(std::string_view text, Value& out) {
    try {
        return parseObject(text, out);
    } catch (const std::exception&) {
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
