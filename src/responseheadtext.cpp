#include "responseheadtext.h"

#include "redfishserverhandler.h"

void appendResponseHead(std::string& out, int status, const char* contentType,
                        const HeaderFields& extra) {
    // No Content-Length: the connection ends with the answer, which marks the
    // end of the body.
    out += "HTTP/1.1 ";
    out += std::to_string(status);
    out += ' ';
    out += RedfishServerHandler::getStatusText(status);
    out += "\r\nContent-Type:";
    out += contentType ? contentType : "";
    out += "\r\nConnection: keep-alive\r\n";
    for (const auto& [name, value] : extra)
        out += name + ": " + value + "\r\n";
    out += "\r\n";
}
