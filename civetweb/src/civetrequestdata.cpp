// The server object's static helpers for request data: form and query
// parameters, the body, cookies, headers, the method and URL coding.
#include "civetserver.h"

#include <algorithm>
#include <cassert>
#include <cctype>
#include <cstring>
#include <vector>

namespace {

// Cap for a body gathered by getParam when no other limit applies.
constexpr size_t kMaxParamBodyLength = 2 * 1024 * 1024;

int hexValue(unsigned char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    return std::tolower(c) - 'a' + 10;
}

} // namespace

bool CivetServer::getParam(struct mg_connection* conn, const char* name, std::string& dst,
                           size_t occurrence) {
    const struct mg_request_info* ri = mg_get_request_info(conn);
    assert(ri != nullptr);
    CivetServer* me = static_cast<CivetServer*>(ri->user_data);
    assert(me != nullptr);

    mg_lock_context(me->context);
    CivetConnection& record = me->connections[conn];
    mg_unlock_context(me->context);

    const char* formParams = nullptr;
    const char* queryString = nullptr;
    mg_lock_connection(conn);
    if (record.postData.empty()) {
        if (record.prefetch == BodyPrefetch::Complete) {
            // The body was received before the handler was called.
            if (record.body.size() <= kMaxParamBodyLength) {
                record.postData.assign(record.body.begin(), record.body.end());
            }
            record.postData.push_back('\0');
        } else {
            char buf[2048];
            for (;;) {
                const int r = mg_read(conn, buf, sizeof(buf));
                if (r == 0) {
                    record.postData.push_back('\0');
                    break;
                }
                if (r < 0 ||
                    record.postData.size() + static_cast<size_t>(r) > kMaxParamBodyLength) {
                    // Unreadable or oversized bodies count as no form data.
                    record.postData.assign(1, '\0');
                    break;
                }
                record.postData.insert(record.postData.end(), buf, buf + r);
            }
        }
    }
    if (!record.postData.empty()) {
        formParams = record.postData.data();
    }
    if (ri->query_string != nullptr) {
        queryString = ri->query_string;
    }
    mg_unlock_connection(conn);

    bool found = false;
    if (formParams != nullptr) {
        found = getParam(formParams, std::strlen(formParams), name, dst, occurrence);
    }
    if (!found && queryString != nullptr) {
        found = getParam(queryString, std::strlen(queryString), name, dst, occurrence);
    }
    return found;
}

bool CivetServer::getParam(const char* data, size_t data_len, const char* name, std::string& dst,
                           size_t occurrence) {
    // Grow the buffer until the decoded value fits (-2: buffer too small).
    std::vector<char> buf(256);
    for (;;) {
        const int r = mg_get_var2(data, data_len, name, buf.data(), buf.size(), occurrence);
        if (r >= 0) {
            dst.assign(buf.data(), static_cast<size_t>(r));
            return true;
        }
        if (r != -2) {
            break;
        }
        buf.resize(buf.size() * 2);
    }
    dst.clear();
    return false;
}

bool CivetServer::getParam(const std::string& data, const char* name, std::string& dst,
                           size_t occurrence) {
    return getParam(data.c_str(), data.length(), name, dst, occurrence);
}

std::string CivetServer::getPostData(struct mg_connection* conn, size_t maxlen) {
    // A body received before the handler call is no longer on the wire.
    std::string received;
    if (prefetchedBody(conn, received) == BodyPrefetch::Complete) {
        if (received.size() > maxlen) {
            received.resize(maxlen);
        }
        return received;
    }
    mg_lock_connection(conn);
    std::string postData;
    char buf[2048];
    while (postData.size() < maxlen) {
        const size_t want = std::min(sizeof(buf), maxlen - postData.size());
        const int r = mg_read(conn, buf, want);
        if (r <= 0) {
            break;
        }
        postData.append(buf, static_cast<size_t>(r));
    }
    mg_unlock_connection(conn);
    return postData;
}

int CivetServer::getCookie(struct mg_connection* conn, const std::string& cookieName,
                           std::string& cookieValue) {
    const char* cookie = mg_get_header(conn, "Cookie");
    // A value can never be longer than the header that carries it.
    std::vector<char> value((cookie != nullptr ? std::strlen(cookie) : 0) + 1);
    const int length = mg_get_cookie(cookie, cookieName.c_str(), value.data(), value.size());
    cookieValue.clear();
    if (length >= 0) {
        cookieValue.assign(value.data(), static_cast<size_t>(length));
    }
    return length;
}

const char* CivetServer::getHeader(struct mg_connection* conn, const std::string& headerName) {
    return mg_get_header(conn, headerName.c_str());
}

const char* CivetServer::getMethod(struct mg_connection* conn) {
    const struct mg_request_info* ri = mg_get_request_info(conn);
    assert(ri != nullptr);
    return ri->request_method;
}

void CivetServer::urlDecode(const std::string& src, std::string& dst, bool is_form_url_encoded) {
    urlDecode(src.c_str(), src.length(), dst, is_form_url_encoded);
}

void CivetServer::urlDecode(const char* src, std::string& dst, bool is_form_url_encoded) {
    urlDecode(src, std::strlen(src), dst, is_form_url_encoded);
}

void CivetServer::urlDecode(const char* src, size_t src_len, std::string& dst,
                            bool is_form_url_encoded) {
    dst.clear();
    dst.reserve(src_len);
    for (size_t i = 0; i < src_len; ++i) {
        const unsigned char c = static_cast<unsigned char>(src[i]);
        if (c == '%' && i + 2 < src_len && std::isxdigit(static_cast<unsigned char>(src[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(src[i + 2]))) {
            dst.push_back(
                static_cast<char>((hexValue(static_cast<unsigned char>(src[i + 1])) << 4) |
                                  hexValue(static_cast<unsigned char>(src[i + 2]))));
            i += 2;
        } else if (is_form_url_encoded && c == '+') {
            dst.push_back(' ');
        } else {
            dst.push_back(static_cast<char>(c));
        }
    }
}

void CivetServer::urlEncode(const std::string& src, std::string& dst, bool append) {
    urlEncode(src.c_str(), src.length(), dst, append);
}

void CivetServer::urlEncode(const char* src, std::string& dst, bool append) {
    urlEncode(src, std::strlen(src), dst, append);
}

void CivetServer::urlEncode(const char* src, size_t src_len, std::string& dst, bool append) {
    static const char kUnescaped[] = "._-$,;~()";
    static const char kHex[] = "0123456789abcdef";
    if (!append) {
        dst.clear();
    }
    for (size_t i = 0; i < src_len; ++i) {
        const unsigned char c = static_cast<unsigned char>(src[i]);
        if (std::isalnum(c) || (c != '\0' && std::strchr(kUnescaped, c) != nullptr)) {
            dst.push_back(static_cast<char>(c));
        } else {
            dst.push_back('%');
            dst.push_back(kHex[c >> 4]);
            dst.push_back(kHex[c & 0xF]);
        }
    }
}
