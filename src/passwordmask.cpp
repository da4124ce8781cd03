// Masking of password values in JSON request bodies. The text is rewritten
// in place of the values only, so a masked body keeps its layout (line breaks
// included) in the trace file.
#include "passwordmask.h"

#include <cctype>

#include "jsonadapter.h"

namespace {

const char* const kMask = "\"******\"";

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// End (one past) of the string token that starts at `i` (a quotation mark);
// the text's end when it is not closed.
size_t stringEnd(const std::string& s, size_t i) {
    for (size_t j = i + 1; j < s.size(); ++j) {
        if (s[j] == '\\')
            ++j;
        else if (s[j] == '"')
            return j + 1;
    }
    return s.size();
}

// End of the comment that starts at `i` ("//" or "/*"), or `i` when none does.
size_t commentEnd(const std::string& s, size_t i) {
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
size_t skipGap(const std::string& s, size_t i) {
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

// End of the JSON value that starts at `i`.
size_t valueEnd(const std::string& s, size_t i) {
    if (i >= s.size())
        return i;
    if (s[i] == '"')
        return stringEnd(s, i);
    if (s[i] == '{' || s[i] == '[') {
        int depth = 0;
        while (i < s.size()) {
            char c = s[i];
            if (c == '"') {
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

// Whether the string token [begin, end) spells "password" in any letter case,
// escape sequences resolved.
bool namesPassword(const std::string& s, size_t begin, size_t end) {
    static const char kWord[] = "password";
    size_t n = 0;
    size_t i = begin + 1;
    size_t stop = end > begin + 1 && s[end - 1] == '"' ? end - 1 : end;
    while (i < stop) {
        int c = static_cast<unsigned char>(s[i]);
        if (c == '\\' && i + 1 < stop) {
            char e = s[i + 1];
            if (e == 'u') {
                if (i + 6 > stop)
                    return false;
                int v = 0;
                for (size_t k = i + 2; k < i + 6; ++k) {
                    int h = hexValue(s[k]);
                    if (h < 0)
                        return false;
                    v = v * 16 + h;
                }
                c = v;
                i += 6;
            } else {
                c = e;
                i += 2;
            }
        } else {
            ++i;
        }
        if (n >= sizeof(kWord) - 1 || c > 127 || std::tolower(c) != kWord[n])
            return false;
        ++n;
    }
    return n == sizeof(kWord) - 1;
}

std::string scanAndMask(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        char c = s[i];
        size_t comment = commentEnd(s, i);
        if (comment != i) {
            out.append(s, i, comment - i);
            i = comment;
            continue;
        }
        if (c != '"') {
            out += c;
            ++i;
            continue;
        }
        size_t end = stringEnd(s, i);
        out.append(s, i, end - i);
        size_t colon = skipGap(s, end);
        if (colon < s.size() && s[colon] == ':' && namesPassword(s, i, end)) {
            size_t value = skipGap(s, colon + 1);
            out.append(s, end, value - end);
            out += kMask;
            i = valueEnd(s, value);
        } else {
            i = end;
        }
    }
    return out;
}

bool keyIsPassword(const std::string& key) {
    const std::string quoted = json::dump(json::Value(key));
    return namesPassword(quoted, 0, quoted.size());
}

// Masks in a parsed value; returns whether a password value was not yet masked.
bool maskTree(json::Value& v) {
    bool changed = false;
    if (v.is_object()) {
        for (auto& item : v.items()) {
            if (keyIsPassword(item.key())) {
                if (item.value() != json::Value("******")) {
                    item.value() = "******";
                    changed = true;
                }
            } else if (maskTree(item.value())) {
                changed = true;
            }
        }
    } else if (v.is_array()) {
        for (auto& element : v) {
            if (maskTree(element))
                changed = true;
        }
    }
    return changed;
}

bool isJson(const std::string& body, json::Value& parsed) {
    if (json::parseObject(body, parsed))
        return true;
    parsed = json::Value::parse(body, nullptr, false, true);
    return !parsed.is_discarded();
}

} // namespace

std::string maskPasswords(const std::string& body) {
    try {
        json::Value original;
        if (!isJson(body, original))
            return body;
        std::string masked = scanAndMask(body);
        // The text scan and the parser must agree; where they do not, the
        // parsed value is masked and written compactly instead.
        json::Value check;
        if (!isJson(masked, check) || maskTree(check)) {
            maskTree(original);
            return json::dump(original);
        }
        return masked;
    } catch (const std::exception&) {
        return "******";
    }
}
