#include "answer/libraryhead.h"

#include <ctime>

#include "civetweb.h"
#include "civetweb_ext.h"

namespace {
constexpr int kLibraryStateError = -3; // something was sent already
} // namespace

std::string httpDate(std::time_t now) {
    std::tm utc{};
#if defined(_WIN32)
    gmtime_s(&utc, &now);
#else
    gmtime_r(&now, &utc);
#endif
    char text[64];
    size_t n = std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &utc);
    return std::string(text, n);
}

int ResponseHead::start(int status) {
    int result = mg_response_header_start(conn_, status);
    if (result == kLibraryStateError) {
        direct_ = true;
        result = 0;
    }
    if (result == 0)
        status_ = status;
    return result;
}

void ResponseHead::add(const std::string& name, const std::string& value) {
    if (direct_)
        headers_.emplace_back(name, value);
    else
        mg_response_header_add(conn_, name.c_str(), value.c_str(), static_cast<int>(value.size()));
}

int ResponseHead::send() {
    if (!direct_)
        return mg_response_header_send(conn_);
    // The bytes the library would have written.
    const struct mg_request_info* ri = mg_get_request_info(conn_);
    const char* version = (ri && ri->http_version) ? ri->http_version : "1.0";
    std::string head = "HTTP/" + std::string(version) + " " + std::to_string(status_) + " " +
                       mg_get_response_code_text(conn_, status_) + "\r\n";
    bool hasDate = false;
    bool hasConnection = false;
    for (const auto& header : headers_) {
        head += header.first + ": " + header.second + "\r\n";
        hasDate = hasDate || mg_strcasecmp(header.first.c_str(), "Date") == 0;
        hasConnection = hasConnection || mg_strcasecmp(header.first.c_str(), "Connection") == 0;
    }
    if (!hasDate)
        head += "Date: " + httpDate(std::time(nullptr)) + "\r\n";
    if (!hasConnection)
        head += "Connection: close\r\n";
    head += "\r\n";
    return mg_write(conn_, head.data(), head.size()) == static_cast<int>(head.size()) ? 0 : -1;
}

bool sendInterimContinue(struct mg_connection* conn) {
    const struct mg_request_info* ri = mg_get_request_info(conn);
    if (!ri || !ri->http_version || std::string(ri->http_version) != "1.1")
        return false;
    const char* expect = mg_get_header(conn, "Expect");
    if (!expect || mg_strcasecmp(expect, "100-continue") != 0)
        return false;
    static const char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";
    return mg_write(conn, kContinue, sizeof kContinue - 1) ==
           static_cast<int>(sizeof kContinue - 1);
}
