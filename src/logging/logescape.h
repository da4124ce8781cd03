// Texts from requests reach log lines and trace records; a line break in one
// would let a client write lines of its own. Control characters are written
// as escapes instead, readable ones where there are: line feed "\n", carriage
// return "\r", tab "\t", any other (DEL included) "\u00XX". Everything else,
// backslashes and UTF-8 included, is kept as it is for the reader. Header
// only: the log plug-in uses it too.
#ifndef TOLVANE_LOGESCAPE_H
#define TOLVANE_LOGESCAPE_H

#include <cstddef>
#include <cstring>
#include <string>
#include <utility>

namespace logtext {

inline bool isControl(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    return u < 0x20 || u == 0x7f;
}

// Index of the first control character of [text, text + size), or size.
inline size_t firstControl(const char* text, size_t size) {
    size_t i = 0;
    while (i < size && !isControl(text[i]))
        ++i;
    return i;
}

// Appends [text, text + size) to `out` with its control characters escaped.
inline void appendEscaped(std::string& out, const char* text, size_t size) {
    static const char kHex[] = "0123456789ABCDEF";
    size_t plain = firstControl(text, size);
    while (plain < size) {
        out.append(text, plain);
        const unsigned char c = static_cast<unsigned char>(text[plain]);
        switch (c) {
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            out += "\\u00";
            out += kHex[c >> 4];
            out += kHex[c & 0xf];
            break;
        }
        text += plain + 1;
        size -= plain + 1;
        plain = firstControl(text, size);
    }
    out.append(text, size);
}

// A zero-terminated text for a log line argument: the caller's own text,
// borrowed, or a changed copy owned here. Null stays null.
class LineText {
  public:
    LineText(const LineText&) = delete;
    LineText& operator=(const LineText&) = delete;
    const char* c_str() const { return text_; }

  protected:
    explicit LineText(const char* text) : text_(text) {}
    void own(std::string copy) {
        copy_ = std::move(copy);
        text_ = copy_.c_str();
    }

  private:
    const char* text_;
    std::string copy_;
};

// The text itself when it holds no control character (nearly always, and
// then without a copy), else an escaped copy.
class Escaped : public LineText {
  public:
    explicit Escaped(const char* text) : LineText(text) {
        if (!text)
            return;
        const size_t size = std::strlen(text);
        if (firstControl(text, size) == size)
            return;
        std::string copy;
        appendEscaped(copy, text, size);
        own(std::move(copy));
    }
};

} // namespace logtext

#endif
