// Masking of password values in request bodies. The text is rewritten in
// place of the values only, so a masked body keeps its layout. A body that
// parses is checked against its parsed value; one that does not is masked by
// the text scan alone, and where the scan cannot be sure it found every
// password, the whole body is replaced.
#include "passwordmask.h"

#include <cctype>
#include <stdexcept>
#include <string_view>

#include "jsonadapter.h"

namespace {

const char* const kMask = "\"******\"";
// The text written in place of a whole body that could not be masked safely.
const char* const kWholeBodyMask = "******";
constexpr char kWord[] = "password";
constexpr size_t kWordLength = sizeof(kWord) - 1;

bool isQuote(char c) {
    return c == '"' || c == '\'';
}

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// End (one past) of the string token that starts at `i` with a quotation
// mark or an apostrophe (lenient readers take both); the text's end when it
// is not closed.
size_t stringEnd(std::string_view s, size_t i) {
    const char quote = s[i];
    for (size_t j = i + 1; j < s.size(); ++j) {
        if (s[j] == '\\')
            ++j;
        else if (s[j] == quote)
            return j + 1;
    }
    return s.size();
}

// End of the comment that starts at `i` ("//" or "/*"), or `i` when none does.
size_t commentEnd(std::string_view s, size_t i) {
    if (i + 1 >= s.size() || s[i] != '/')
        return i;
    if (s[i + 1] == '/') {
        size_t nl = s.find('\n', i + 2);
        return nl == std::string::npos ? s.size() : nl;
    }
    if (s[i + 1] == '*') {
        size_t close = s.find("*/", i + 2);
        return close == std::string::npos ? s.size() : close + 2;
    }
    return i;
}

// Skips white space and comments.
size_t skipGap(std::string_view s, size_t i) {
    while (i < s.size()) {
        if (isSpace(s[i])) {
            ++i;
            continue;
        }
        size_t c = commentEnd(s, i);
        if (c == i)
            break;
        i = c;
    }
    return i;
}

// End of the JSON value that starts at `i`; the text's end for an unclosed
// string or container.
size_t valueEnd(std::string_view s, size_t i) {
    if (i >= s.size())
        return i;
    if (isQuote(s[i]))
        return stringEnd(s, i);
    if (s[i] == '{' || s[i] == '[') {
        int depth = 0;
        while (i < s.size()) {
            char c = s[i];
            if (isQuote(c)) {
                i = stringEnd(s, i);
                continue;
            }
            size_t comment = commentEnd(s, i);
            if (comment != i) {
                i = comment;
                continue;
            }
            if (c == '{' || c == '[')
                ++depth;
            else if (c == '}' || c == ']') {
                if (--depth == 0)
                    return i + 1;
            }
            ++i;
        }
        return i;
    }
    while (i < s.size() && !isSpace(s[i]) && s[i] != ',' && s[i] != '}' && s[i] != ']' &&
           s[i] != '/')
        ++i;
    return i;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The character at `i` of `s` (before `stop`), an escape sequence resolved,
// lower-cased; advances `i`, always. -1 for a "\u" escape that is cut short
// or invalid (its "\u" is passed over).
int nextFolded(std::string_view s, size_t& i, size_t stop) {
    int c = static_cast<unsigned char>(s[i]);
    if (c != '\\' || i + 1 >= stop) {
        ++i;
        return std::tolower(c);
    }
    const char e = s[i + 1];
    i += 2;
    if (e != 'u')
        return std::tolower(static_cast<unsigned char>(e));
    if (i + 4 > stop)
        return -1;
    int v = 0;
    for (size_t k = i; k < i + 4; ++k) {
        const int h = hexValue(s[k]);
        if (h < 0)
            return -1;
        v = v * 16 + h;
    }
    i += 4;
    return v < 128 ? std::tolower(v) : v;
}

// Whether the string token [begin, end) spells "password" in any letter case,
// escape sequences resolved.
bool namesPassword(std::string_view s, size_t begin, size_t end) {
    size_t n = 0;
    size_t i = begin + 1;
    const size_t stop = end > begin + 1 && s[end - 1] == s[begin] ? end - 1 : end;
    while (i < stop) {
        if (n >= kWordLength || nextFolded(s, i, stop) != kWord[n])
            return false;
        ++n;
    }
    return n == kWordLength;
}

// Whether `text` holds the word "password" in any letter case, escape
// sequences resolved: a place where a lenient reader might find a password.
bool mentionsPassword(std::string_view text) {
    size_t n = 0;
    for (size_t i = 0; i < text.size();) {
        const int c = nextFolded(text, i, text.size());
        // The word's first letter appears nowhere else in it.
        n = c == kWord[n] ? n + 1 : (c == kWord[0] ? 1 : 0);
        if (n == kWordLength)
            return true;
    }
    return false;
}

struct Scan {
    std::string text;
    // Whether the scan could not be sure it found every password value.
    bool doubtful = false;
};

// Replaces the value of every member whose name, in quotation marks or
// apostrophes, spells "password" (see namesPassword). With `judge`, also
// notes doubt: the word anywhere else, or a value followed by anything but
// the end of its member.
Scan scanAndMask(std::string_view s, bool judge) {
    Scan out;
    out.text.reserve(s.size());
    auto keep = [&](size_t from, size_t to) {
        const std::string_view part = s.substr(from, to - from);
        if (judge && !out.doubtful && mentionsPassword(part))
            out.doubtful = true;
        out.text.append(part);
    };
    size_t i = 0;
    while (i < s.size()) {
        const size_t next = s.find_first_of("\"'/", i);
        if (next == std::string_view::npos) {
            keep(i, s.size());
            break;
        }
        keep(i, next);
        i = next;
        if (s[i] == '/') {
            const size_t comment = commentEnd(s, i);
            const size_t to = comment == i ? i + 1 : comment;
            keep(i, to);
            i = to;
            continue;
        }
        const size_t end = stringEnd(s, i);
        const size_t colon = skipGap(s, end);
        if (colon >= s.size() || s[colon] != ':' || !namesPassword(s, i, end)) {
            keep(i, end);
            i = end;
            continue;
        }
        const size_t value = skipGap(s, colon + 1);
        out.text.append(s.substr(i, value - i));
        if (value == s.size())
            break;
        out.text += kMask;
        i = valueEnd(s, value);
        const size_t after = skipGap(s, i);
        if (judge && after < s.size() && s[after] != ',' && s[after] != '}' && s[after] != ']')
            out.doubtful = true;
    }
    return out;
}

// A parsed name has its escapes resolved already.
bool keyIsPassword(const std::string& key) {
    if (key.size() != kWordLength)
        return false;
    for (size_t i = 0; i < kWordLength; ++i) {
        if (std::tolower(static_cast<unsigned char>(key[i])) != kWord[i])
            return false;
    }
    return true;
}

// Masks in a parsed value; returns whether a password value was not yet
// masked. The parse bounds the depth; the bound here keeps the recursion safe
// whatever gave the value.
bool maskTree(json::Value& v, int depth = 0) {
    if (depth > json::kNestingLimit)
        throw std::length_error("nested too deeply to mask");
    bool changed = false;
    if (v.is_object()) {
        for (auto& item : v.items()) {
            if (keyIsPassword(item.key())) {
                if (item.value() != json::Value("******")) {
                    item.value() = "******";
                    changed = true;
                }
            } else if (maskTree(item.value(), depth + 1)) {
                changed = true;
            }
        }
    } else if (v.is_array()) {
        for (auto& element : v) {
            if (maskTree(element, depth + 1))
                changed = true;
        }
    }
    return changed;
}

} // namespace

std::string maskPasswords(const std::string& body) {
    try {
        json::Value original;
        size_t end = 0;
        if (!json::parseDocument(body, original, &end)) {
            Scan loose = scanAndMask(body, true);
            return loose.doubtful ? kWholeBodyMask : loose.text;
        }
        // What follows the parsed text is not JSON to anyone: judged as such.
        const std::string_view text(body);
        Scan rest = scanAndMask(text.substr(end), true);
        if (rest.doubtful)
            return kWholeBodyMask;
        Scan masked = scanAndMask(text.substr(0, end), false);
        // The text scan and the parser must agree; where they do not, the
        // parsed value is masked and written compactly instead.
        json::Value check;
        size_t checkEnd = 0;
        if (!json::parseDocument(masked.text, check, &checkEnd) || checkEnd != masked.text.size() ||
            maskTree(check)) {
            maskTree(original);
            return json::dump(original) + rest.text;
        }
        return masked.text + rest.text;
    } catch (const std::exception&) {
        return kWholeBodyMask;
    }
}
