#include "lineformat.h"

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace tolvane::logservice {

namespace {

enum class Length { Plain, Short, Char, Long, LongLong, Size, Max };

template <typename T> void appendNumber(std::string& out, T value) {
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    out.append(digits, static_cast<size_t>(result.ptr - digits));
}

// Reads an integer argument of the given length and signedness, promoted
// as printf's rules say, and appends it.
void appendInteger(std::string& out, Length length, bool isSigned, va_list& args) {
    if (isSigned) {
        switch (length) {
        case Length::Long:
            appendNumber(out, va_arg(args, long));
            return;
        case Length::LongLong:
            appendNumber(out, va_arg(args, long long));
            return;
        case Length::Size:
            appendNumber(out, va_arg(args, std::ptrdiff_t)); // signed size_t
            return;
        case Length::Max:
            appendNumber(out, va_arg(args, std::intmax_t));
            return;
        case Length::Short:
            appendNumber(out, static_cast<short>(va_arg(args, int)));
            return;
        case Length::Char:
            appendNumber(out, static_cast<int>(static_cast<signed char>(va_arg(args, int))));
            return;
        case Length::Plain:
            appendNumber(out, va_arg(args, int));
            return;
        }
    }
    switch (length) {
    case Length::Long:
        appendNumber(out, va_arg(args, unsigned long));
        return;
    case Length::LongLong:
        appendNumber(out, va_arg(args, unsigned long long));
        return;
    case Length::Size:
        appendNumber(out, va_arg(args, std::size_t));
        return;
    case Length::Max:
        appendNumber(out, va_arg(args, std::uintmax_t));
        return;
    case Length::Short:
        appendNumber(out, static_cast<unsigned short>(va_arg(args, unsigned int)));
        return;
    case Length::Char:
        appendNumber(out, static_cast<unsigned>(static_cast<unsigned char>(va_arg(args, int))));
        return;
    case Length::Plain:
        appendNumber(out, va_arg(args, unsigned int));
        return;
    }
}

// Whether every conversion of `format` is one formatPlainLine handles.
bool allPlain(const char* format) {
    for (const char* p = std::strchr(format, '%'); p; p = std::strchr(p, '%')) {
        ++p;
        if (*p == 'h' || *p == 'l') {
            if (p[1] == *p)
                ++p;
            ++p;
            if (*p != 'd' && *p != 'i' && *p != 'u')
                return false;
        } else if (*p == 'z' || *p == 'j') {
            ++p;
            if (*p != 'd' && *p != 'i' && *p != 'u')
                return false;
        } else if (*p != 's' && *p != 'c' && *p != 'd' && *p != 'i' && *p != 'u' && *p != '%') {
            return false;
        }
        ++p;
    }
    return true;
}

} // namespace

bool formatPlainLine(std::string& out, const char* format, va_list args) {
    // Checked first, so no argument is read for a format left to vsnprintf.
    if (!allPlain(format))
        return false;
    va_list ap;
    va_copy(ap, args);
    const char* p = format;
    for (;;) {
        const char* percent = std::strchr(p, '%');
        if (!percent) {
            out.append(p);
            break;
        }
        out.append(p, static_cast<size_t>(percent - p));
        p = percent + 1;
        Length length = Length::Plain;
        if (*p == 'h') {
            length = p[1] == 'h' ? Length::Char : Length::Short;
            p += length == Length::Char ? 2 : 1;
        } else if (*p == 'l') {
            length = p[1] == 'l' ? Length::LongLong : Length::Long;
            p += length == Length::LongLong ? 2 : 1;
        } else if (*p == 'z') {
            length = Length::Size;
            ++p;
        } else if (*p == 'j') {
            length = Length::Max;
            ++p;
        }
        switch (*p) {
        case 's': {
            const char* s = va_arg(ap, const char*);
            out.append(s ? s : "(null)");
            break;
        }
        case 'c':
            out += static_cast<char>(va_arg(ap, int));
            break;
        case 'd':
        case 'i':
            appendInteger(out, length, true, ap);
            break;
        case 'u':
            appendInteger(out, length, false, ap);
            break;
        default: // '%'
            out += '%';
            break;
        }
        ++p;
    }
    va_end(ap);
    return true;
}

void formatLine(std::string& out, const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    if (formatPlainLine(out, format, copy)) {
        va_end(copy);
        return;
    }
    va_end(copy);
    va_copy(copy, args);
    char small[1024];
    const int n = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (n < 0)
        return;
    if (static_cast<size_t>(n) < sizeof small) {
        out.append(small, static_cast<size_t>(n));
        return;
    }
    const size_t start = out.size();
    out.resize(start + static_cast<size_t>(n) + 1);
    va_copy(copy, args);
    std::vsnprintf(&out[start], static_cast<size_t>(n) + 1, format, copy);
    va_end(copy);
    out.resize(start + static_cast<size_t>(n));
}

} // namespace tolvane::logservice
