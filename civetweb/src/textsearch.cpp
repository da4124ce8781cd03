// Case-insensitive substring search; the engine keeps its own copy private.
#include "civetweb_ext.h"

#include <cstring>

namespace {
int asciiLower(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c;
}
} // namespace

extern "C" const char* mg_strcasestr(const char* big_str, const char* small_str) {
    const size_t bigLen = std::strlen(big_str);
    const size_t smallLen = std::strlen(small_str);
    if (smallLen > bigLen) {
        return nullptr;
    }
    for (size_t i = 0; i + smallLen <= bigLen; ++i) {
        size_t k = 0;
        while (k < smallLen && asciiLower(static_cast<unsigned char>(big_str[i + k])) ==
                                   asciiLower(static_cast<unsigned char>(small_str[k]))) {
            ++k;
        }
        if (k == smallLen) {
            return big_str + i;
        }
    }
    return nullptr;
}
