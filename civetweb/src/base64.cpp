// Base64 with the library's later public interface: -1 means success; the
// length out-parameters count the terminating zero.
#include "civetweb_ext.h"

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr unsigned char kPad = 255;     // '=': end of data
constexpr unsigned char kInvalid = 254; // anything else outside the alphabet

unsigned char sextet(char letter) {
    if (letter >= 'A' && letter <= 'Z')
        return static_cast<unsigned char>(letter - 'A');
    if (letter >= 'a' && letter <= 'z')
        return static_cast<unsigned char>(letter - 'a' + 26);
    if (letter >= '0' && letter <= '9')
        return static_cast<unsigned char>(letter - '0' + 52);
    if (letter == '+')
        return 62;
    if (letter == '/')
        return 63;
    if (letter == '=')
        return kPad;
    return kInvalid;
}

} // namespace

extern "C" int mg_base64_encode(const unsigned char* src, size_t src_len, char* dst,
                                size_t* dst_len) {
    const size_t needed = ((src_len + 2) / 3) * 4 + 1;
    if (dst_len != nullptr && *dst_len < needed) {
        if (*dst_len > 0) {
            dst[0] = '\0';
        }
        *dst_len = needed;
        return 0;
    }

    size_t j = 0;
    for (size_t i = 0; i < src_len; i += 3) {
        const unsigned a = src[i];
        const unsigned b = (i + 1 < src_len) ? src[i + 1] : 0;
        const unsigned c = (i + 2 < src_len) ? src[i + 2] : 0;
        dst[j++] = kAlphabet[a >> 2];
        dst[j++] = kAlphabet[((a & 3) << 4) | (b >> 4)];
        if (i + 1 < src_len) {
            dst[j++] = kAlphabet[((b & 15) << 2) | (c >> 6)];
        }
        if (i + 2 < src_len) {
            dst[j++] = kAlphabet[c & 63];
        }
    }
    while (j % 4 != 0) {
        dst[j++] = '=';
    }
    dst[j++] = '\0';
    if (dst_len != nullptr) {
        *dst_len = j;
    }
    return -1;
}

extern "C" int mg_base64_decode(const char* src, size_t src_len, unsigned char* dst,
                                size_t* dst_len) {
    const size_t limit = (dst_len != nullptr) ? *dst_len : static_cast<size_t>(-1);
    size_t used = 0;
    if (dst_len != nullptr) {
        *dst_len = 0;
    }
    // Bytes past the room are counted but not stored, so the caller learns
    // the size needed.
    auto put = [&](unsigned value) {
        if (used < limit) {
            dst[used] = static_cast<unsigned char>(value & 0xFF);
        }
        ++used;
    };

    for (size_t i = 0; i < src_len; i += 4) {
        const unsigned char a = sextet(src[i]);
        if (a >= kInvalid) {
            return static_cast<int>(i);
        }
        const unsigned char b = sextet((i + 1 < src_len) ? src[i + 1] : '\0');
        if (b >= kInvalid) {
            return static_cast<int>(i + 1);
        }
        const unsigned char c = sextet((i + 2 < src_len) ? src[i + 2] : '\0');
        if (c == kInvalid) {
            return static_cast<int>(i + 2);
        }
        const unsigned char d = sextet((i + 3 < src_len) ? src[i + 3] : '\0');
        if (d == kInvalid) {
            return static_cast<int>(i + 3);
        }
        put((static_cast<unsigned>(a) << 2) | (b >> 4));
        if (c != kPad) {
            put((static_cast<unsigned>(b) << 4) | (c >> 2));
            if (d != kPad) {
                put((static_cast<unsigned>(c) << 6) | d);
            }
        }
    }
    put(0);
    if (dst_len != nullptr) {
        *dst_len = used;
    }
    return used > limit ? 0 : -1;
}
