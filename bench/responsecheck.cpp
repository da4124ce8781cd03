#include "responsecheck.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace bench {

namespace {

bool isTokenChar(unsigned char c) {
    return std::isalnum(c) || std::strchr("!#$%&'*+-.^_`|~", c) != nullptr;
}

bool equalsIgnoreCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

std::string trim(const std::string& text) {
    size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string::npos)
        return std::string();
    size_t end = text.find_last_not_of(" \t");
    return text.substr(begin, end - begin + 1);
}

ResponseCheck malformed(const std::string& detail) {
    ResponseCheck check;
    check.error = ErrorKind::Malformed;
    check.detail = detail;
    return check;
}

// Parses "HTTP/1.x NNN[ reason]"; the status or -1.
int parseStatusLine(const std::string& line) {
    if (line.size() < 12 || line.compare(0, 7, "HTTP/1.") != 0 ||
        !std::isdigit(static_cast<unsigned char>(line[7])) || line[8] != ' ')
        return -1;
    for (size_t i = 9; i < 12; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(line[i])))
            return -1;
    }
    if (line.size() > 12 && line[12] != ' ')
        return -1;
    for (size_t i = 12; i < line.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(line[i]);
        if (c < 0x20 && c != '\t')
            return -1;
    }
    return std::stoi(line.substr(9, 3));
}

} // namespace

ResponseCheck checkResponse(const std::string& raw, int expectedClass) {
    if (raw.empty()) {
        ResponseCheck check;
        check.error = ErrorKind::Empty;
        check.detail = "closed without a response";
        return check;
    }
    size_t lineEnd = raw.find("\r\n");
    if (lineEnd == std::string::npos)
        return malformed("no complete status line");
    int status = parseStatusLine(raw.substr(0, lineEnd));
    if (status < 100)
        return malformed("bad status line \"" + raw.substr(0, std::min<size_t>(lineEnd, 60)) +
                         "\"");
    size_t blockEnd = raw.find("\r\n\r\n");
    if (blockEnd == std::string::npos)
        return malformed("header block not ended by an empty line");

    long long contentLength = -1;
    size_t pos = lineEnd + 2;
    while (pos < blockEnd + 2) {
        size_t end = raw.find("\r\n", pos);
        std::string line = raw.substr(pos, end - pos);
        pos = end + 2;
        size_t colon = line.find(':');
        if (colon == std::string::npos || colon == 0)
            return malformed("header line without a name and colon");
        for (size_t i = 0; i < colon; ++i) {
            if (!isTokenChar(static_cast<unsigned char>(line[i])))
                return malformed("bad character in a header name");
        }
        for (size_t i = colon + 1; i < line.size(); ++i) {
            unsigned char c = static_cast<unsigned char>(line[i]);
            if ((c < 0x20 && c != '\t') || c == 0x7f)
                return malformed("control character in a header value");
        }
        if (equalsIgnoreCase(line.substr(0, colon), "Content-Length")) {
            std::string value = trim(line.substr(colon + 1));
            if (value.empty() || value.size() > 15 ||
                value.find_first_not_of("0123456789") != std::string::npos)
                return malformed("bad Content-Length");
            long long parsed = std::stoll(value);
            if (contentLength >= 0 && parsed != contentLength)
                return malformed("conflicting Content-Length headers");
            contentLength = parsed;
        }
    }

    ResponseCheck check;
    check.status = status;
    check.bodyBytes = raw.size() - (blockEnd + 4);
    if (contentLength >= 0 && static_cast<long long>(check.bodyBytes) != contentLength) {
        check.error = ErrorKind::Malformed;
        check.detail = "body of " + std::to_string(check.bodyBytes) + " bytes, Content-Length " +
                       std::to_string(contentLength);
        return check;
    }
    if (status / 100 != expectedClass) {
        check.error = ErrorKind::Status;
        check.detail = "status " + std::to_string(status) + ", expected " +
                       std::to_string(expectedClass) + "xx";
    }
    return check;
}

std::string responseHeader(const std::string& raw, const std::string& name) {
    size_t blockEnd = raw.find("\r\n\r\n");
    size_t pos = raw.find("\r\n");
    if (blockEnd == std::string::npos || pos == std::string::npos)
        return std::string();
    pos += 2;
    while (pos < blockEnd + 2) {
        size_t end = raw.find("\r\n", pos);
        std::string line = raw.substr(pos, end - pos);
        pos = end + 2;
        size_t colon = line.find(':');
        if (colon != std::string::npos && equalsIgnoreCase(line.substr(0, colon), name))
            return trim(line.substr(colon + 1));
    }
    return std::string();
}

} // namespace bench
