#include "formrequest.h"

#include "civetweb_ext.h"

#include <cstring>

namespace {

constexpr size_t kMaxBoundary = 70;

bool isAlnum(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// RFC 7230 tchar.
bool isTokenChar(char c) {
    return isAlnum(c) || (c != '\0' && std::strchr("!#$%&'*+-.^_`|~", c) != nullptr);
}

// RFC 2046 bchars.
bool isBoundaryChar(char c) {
    return isAlnum(c) || (c != '\0' && std::strchr("'()+_,-./:=? ", c) != nullptr);
}

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

class Scanner {
  public:
    explicit Scanner(std::string_view text) : text_(text) {}
    bool atEnd() const { return pos_ >= text_.size(); }
    char peek() const { return atEnd() ? '\0' : text_[pos_]; }
    bool take(char c) {
        if (peek() != c || atEnd())
            return false;
        ++pos_;
        return true;
    }
    void skipSpace() {
        while (!atEnd() && (text_[pos_] == ' ' || text_[pos_] == '\t'))
            ++pos_;
    }
    // Token characters (and '/' when asked, for the media type itself).
    std::string_view token(bool withSlash = false) {
        const size_t start = pos_;
        while (!atEnd() && (isTokenChar(text_[pos_]) || (withSlash && text_[pos_] == '/')))
            ++pos_;
        return text_.substr(start, pos_ - start);
    }
    // A quoted string after its opening quote, escapes resolved.
    std::optional<std::string> quotedRest() {
        std::string value;
        while (!atEnd()) {
            char c = text_[pos_++];
            if (c == '"')
                return value;
            if (c == '\\') {
                if (atEnd())
                    return std::nullopt;
                c = text_[pos_++];
            }
            value += c;
        }
        return std::nullopt;
    }

  private:
    std::string_view text_;
    size_t pos_ = 0;
};

bool isValidBoundary(const std::string& boundary) {
    if (boundary.empty() || boundary.size() > kMaxBoundary || boundary.back() == ' ')
        return false;
    for (char c : boundary) {
        if (!isBoundaryChar(c))
            return false;
    }
    return true;
}

} // namespace

std::optional<std::string> multipartBoundary(std::string_view contentType) {
    Scanner in(contentType);
    in.skipSpace();
    if (!equalsIgnoreCase(in.token(true), "multipart/form-data"))
        return std::nullopt;
    std::optional<std::string> boundary;
    for (;;) {
        in.skipSpace();
        if (in.atEnd())
            break;
        if (!in.take(';'))
            return std::nullopt;
        in.skipSpace();
        if (in.atEnd())
            break; // a trailing ";" names nothing
        const std::string_view name = in.token();
        if (name.empty() || !in.take('='))
            return std::nullopt;
        std::optional<std::string> value;
        if (in.take('"'))
            value = in.quotedRest();
        else if (std::string_view word = in.token(); !word.empty())
            value = std::string(word);
        if (!value)
            return std::nullopt;
        if (equalsIgnoreCase(name, "boundary")) {
            // Two boundaries leave the body's framing open to choice.
            if (boundary)
                return std::nullopt;
            boundary = std::move(value);
        }
    }
    if (!boundary || !isValidBoundary(*boundary))
        return std::nullopt;
    return boundary;
}

extern "C" int tolvane_multipart_boundary(const char* contentType, char* out, size_t outLen) {
    const std::optional<std::string> boundary = multipartBoundary(contentType ? contentType : "");
    if (!boundary || out == nullptr || boundary->size() >= outLen)
        return -1;
    std::memcpy(out, boundary->c_str(), boundary->size() + 1);
    return static_cast<int>(boundary->size());
}

FormParse handleCappedForm(struct mg_connection* conn, struct mg_form_data_handler& handler,
                           long long maxFileBytes) {
    int exceeded = 0;
    const int result = tolvane_handle_form_request_capped(conn, &handler, maxFileBytes, &exceeded);
    if (exceeded)
        return FormParse::TooLarge;
    return result < 0 ? FormParse::Malformed : FormParse::Parsed;
}
