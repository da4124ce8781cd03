#include "compactreply.h"

#include <vector>

#include "jsonadapter.h"

namespace {

// Integers of up to 18 digits fit the library's integer types whatever their
// sign, so they print back exactly as written.
constexpr size_t kMaxIntegerDigits = 18;
// Member names are checked for repeats pairwise; larger objects are left to
// the full conversion.
constexpr size_t kMaxMembers = 256;

// Reads one value in printed form; every method leaves `pos_` behind what it
// read and returns false as soon as the text is not in that form.
class PrintedFormReader {
  public:
    explicit PrintedFormReader(std::string_view text) : t_(text) {}

    bool topObject(CompactReply& out) {
        if (!at('{'))
            return false;
        ++pos_;
        const size_t firstName = names_.size();
        if (at('}'))
            return true;
        for (;;) {
            std::string_view name;
            if (!memberName(firstName, name))
                return false;
            if (name == "HttpStatus") {
                out.hasStatus = true;
                if (!integer(&out.status))
                    return false;
            } else if (name == "Data") {
                out.hasData = true;
                const size_t begin = pos_;
                if (at('"')) {
                    std::string_view content;
                    if (!string(content))
                        return false;
                    out.dataIsString = true;
                    out.data = content;
                } else {
                    if (!value(1))
                        return false;
                    out.data = t_.substr(begin, pos_ - begin);
                }
            } else if (!value(1)) {
                return false;
            }
            if (at('}'))
                return true; // what follows the object is not read
            if (!at(','))
                return false;
            ++pos_;
        }
    }

  private:
    bool at(char c) const { return pos_ < t_.size() && t_[pos_] == c; }

    // A string with printable ASCII characters and the escapes the library
    // prints for quotation mark, backslash and the named control characters.
    bool string(std::string_view& content) {
        if (!at('"'))
            return false;
        const size_t begin = ++pos_;
        while (pos_ < t_.size()) {
            const unsigned char c = static_cast<unsigned char>(t_[pos_]);
            if (c == '"') {
                content = t_.substr(begin, pos_ - begin);
                ++pos_;
                return true;
            }
            if (c == '\\') {
                if (pos_ + 1 >= t_.size())
                    return false;
                switch (t_[pos_ + 1]) {
                case '"':
                case '\\':
                case 'b':
                case 'f':
                case 'n':
                case 'r':
                case 't':
                    pos_ += 2;
                    continue;
                default:
                    return false; // \u and \/ are printed otherwise
                }
            }
            if (c < 0x20 || c > 0x7E)
                return false;
            ++pos_;
        }
        return false;
    }

    // A member name and its colon; a name seen before in the same object
    // (the library would merge the two members) ends the reading.
    bool memberName(size_t firstName, std::string_view& name) {
        if (!string(name) || !at(':'))
            return false;
        ++pos_;
        if (names_.size() - firstName >= kMaxMembers)
            return false;
        for (size_t i = firstName; i < names_.size(); ++i) {
            if (names_[i] == name)
                return false;
        }
        names_.push_back(name);
        return true;
    }

    // -?(0|[1-9][0-9]*) without fraction or exponent; not "-0", which prints
    // as "0".
    bool integer(int64_t* out) {
        const size_t begin = pos_;
        const bool negative = at('-');
        if (negative)
            ++pos_;
        const size_t digitsBegin = pos_;
        int64_t v = 0;
        while (pos_ < t_.size() && t_[pos_] >= '0' && t_[pos_] <= '9') {
            if (pos_ - digitsBegin == kMaxIntegerDigits)
                return false;
            v = v * 10 + (t_[pos_] - '0');
            ++pos_;
        }
        const size_t digits = pos_ - digitsBegin;
        if (digits == 0 || (t_[digitsBegin] == '0' && (digits > 1 || negative)))
            return false;
        if (at('.') || at('e') || at('E'))
            return false;
        if (out)
            *out = negative ? -v : v;
        return pos_ > begin;
    }

    bool word(std::string_view w) {
        if (t_.substr(pos_, w.size()) != w)
            return false;
        pos_ += w.size();
        return true;
    }

    // `depth`: containers around the value, the top object included.
    bool value(int depth) {
        if (pos_ >= t_.size())
            return false;
        switch (t_[pos_]) {
        case '"': {
            std::string_view ignored;
            return string(ignored);
        }
        case '{':
            return object(depth + 1);
        case '[':
            return array(depth + 1);
        case 't':
            return word("true");
        case 'f':
            return word("false");
        case 'n':
            return word("null");
        default:
            return integer(nullptr);
        }
    }

    bool object(int depth) {
        if (depth > json::kNestingLimit)
            return false;
        ++pos_; // '{'
        if (at('}')) {
            ++pos_;
            return true;
        }
        const size_t firstName = names_.size();
        for (;;) {
            std::string_view name;
            if (!memberName(firstName, name) || !value(depth))
                return false;
            if (at('}')) {
                ++pos_;
                names_.resize(firstName);
                return true;
            }
            if (!at(','))
                return false;
            ++pos_;
        }
    }

    bool array(int depth) {
        if (depth > json::kNestingLimit)
            return false;
        ++pos_; // '['
        if (at(']')) {
            ++pos_;
            return true;
        }
        for (;;) {
            if (!value(depth))
                return false;
            if (at(']')) {
                ++pos_;
                return true;
            }
            if (!at(','))
                return false;
            ++pos_;
        }
    }

    std::string_view t_;
    size_t pos_ = 0;
    // Names of the objects being read, innermost last.
    std::vector<std::string_view> names_;
};

void clear(CompactReply& out) {
    out.hasStatus = false;
    out.status = 0;
    out.hasData = false;
    out.dataIsString = false;
    out.data = std::string_view();
    out.text.clear();
}

} // namespace

bool readCompactReply(std::string_view text, CompactReply& out) {
    clear(out);
    PrintedFormReader reader(text);
    if (!reader.topObject(out)) {
        clear(out);
        return false;
    }
    return true;
}

bool readReplyAsWritten(std::string_view text, CompactReply& out) {
    clear(out);
    json::Value root;
    if (!json::parseObjectAsWritten(text, root))
        return false;
    const auto status = root.find("HttpStatus");
    if (status != root.end()) {
        out.hasStatus = true;
        out.status = json::asInteger64(json::writtenNumber(*status));
    }
    const auto data = root.find("Data");
    if (data == root.end())
        return true;
    out.hasData = true;
    if (data->is_string()) {
        // Characters as they are; only a backslash needs its escape.
        out.dataIsString = true;
        const std::string& characters = data->get_ref<const std::string&>();
        out.text.reserve(characters.size());
        for (const char c : characters) {
            if (c == '\\')
                out.text += '\\';
            out.text += c;
        }
    } else {
        out.text = json::dumpAsWritten(*data);
    }
    out.data = out.text;
    return true;
}

void appendUnescaped(std::string_view escaped, std::string& out) {
    out.reserve(out.size() + escaped.size());
    size_t i = 0;
    while (i < escaped.size()) {
        // Copy the plain run up to the next escape in one piece.
        const size_t escape = escaped.find('\\', i);
        const size_t end = escape == std::string_view::npos ? escaped.size() : escape;
        out.append(escaped.data() + i, end - i);
        if (escape == std::string_view::npos || escape + 1 >= escaped.size())
            break;
        switch (escaped[escape + 1]) {
        case 'b':
            out += '\b';
            break;
        case 'f':
            out += '\f';
            break;
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        case 't':
            out += '\t';
            break;
        default: // '"' and '\\' stand for themselves
            out += escaped[escape + 1];
            break;
        }
        i = escape + 2;
    }
}

int32_t convertPluginReply(const char* reply, std::string& body) {
    // The status belongs to this reply alone: one without a usable status is
    // a server error, never the status of an earlier request.
    int32_t httpStatus = 500;
    try {
        // Replies as the JSON library prints them (the usual case) are read
        // without building a document; any other valid reply is read keeping
        // its numbers as written. The body comes out the same either way.
        CompactReply compact;
        const std::string_view text = reply ? reply : "";
        if (readCompactReply(text, compact) || readReplyAsWritten(text, compact)) {
            if (!compact.hasStatus) {
                body = "{}";
                return httpStatus;
            }
            httpStatus = (compact.status >= 100 && compact.status <= 599)
                             ? static_cast<int32_t>(compact.status)
                             : 500;
            body.clear();
            if (!compact.hasData)
                body = "Data is NULL";
            else if (compact.dataIsString)
                appendUnescaped(compact.data, body);
            else
                body.assign(compact.data.data(), compact.data.size());
            return httpStatus;
        }
        json::Value root;
        if (!json::parseObject(reply ? reply : "", root)) {
            body = "root parse failed";
            return httpStatus;
        }
        if (!json::hasMember(root, "HttpStatus")) {
            body = "{}";
            return httpStatus;
        }
        const int64_t status = json::asInteger64(root.at("HttpStatus"));
        httpStatus = (status >= 100 && status <= 599) ? static_cast<int32_t>(status) : 500;
        if (!json::hasMember(root, "Data"))
            body = "Data is NULL";
        else
            body = json::asText(root.at("Data"));
    } catch (const std::exception&) {
        body = json::kInternalException;
    }
    return httpStatus;
}
