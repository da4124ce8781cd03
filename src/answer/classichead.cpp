#include "answer/classichead.h"

void appendResponseHead(std::string& out, int status, const char* contentType,
                        const HeaderList& extra) {
    // No Content-Length: the connection ends with the answer, which marks the
    // end of the body.
    out += "HTTP/1.1 ";
    out += std::to_string(status);
    out += ' ';
    out += classicStatusText(status);
    out += "\r\nContent-Type:";
    out += contentType ? contentType : "";
    out += "\r\nConnection: keep-alive\r\n";
    for (const auto& [name, value] : extra)
        out += name + ": " + value + "\r\n";
    out += "\r\n";
}

const char* classicStatusText(int status) {
    switch (status) {
    case 200:
        return "Ok";
    case 201:
        return "Created";
    case 202:
        return "Accepted";
    case 204:
        return "No Content";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 303:
        return "See Other";
    case 304:
        return "Not Modified";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 406:
        return "Not Acceptable";
    case 408:
        return "Request Timeout";
    case 409:
        return "Conflict";
    case 410:
        return "Gone";
    case 411:
        return "Length Required";
    case 412:
        return "Pre-condition Failed";
    case 413:
        return "Payload Too Large";
    case 415:
        return "Unsupported Media Type";
    case 500:
        return "Internal Error";
    case 501:
        return "Not Implemented";
    case 503:
        return "Service Unavailable";
    default:
        return "Expectation Failed";
    }
}
