// Helpers shared by the handler's server tests: exact answer texts and raw
// socket clients for the cases the shared helpers do not cover (a body that
// stalls, a client that resets the connection).
#ifndef TOLVANE_HANDLERTEST_H
#define TOLVANE_HANDLERTEST_H

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cerrno>
#include <string>
#include <thread>

#include "testsupport.h"

namespace handlertest {

using ts::sendAll;
using ts::waitUntil;

inline std::string head(int status, const char* reason) {
    return "HTTP/1.1 " + std::to_string(status) + " " + reason +
           "\r\nContent-Type:application/json\r\nConnection: keep-alive\r\n\r\n";
}

inline std::string unauthorized() {
    return head(401, "Unauthorized") + "Unauthorized user";
}

const char kServiceRoot[] =
    "{\"@odata.context\":\"/redfish/v1/$metadata#ServiceRoot\",\"@odata.id\":\"/redfish/v1\","
    "\"@odata.type\":\"#ServiceRoot.1.0.2.ServiceRoot\",\"Id\":\"RootService\",\"Name\":\"Root "
    "Service\",\"RedfishVersion\":\"1.0.2\",\"UUID\":\"Not Aplicable\",\"StorageServices\":{\"@"
    "odata.id\":\"/redfish/v1/StorageServices\"},\"StorageSystems\":{\"@odata.id\":\"/redfish/v1/"
    "StorageSystems\"},\"Systems\":{\"@odata.id\":\"/redfish/v1/Systems\"},\"Chassis\":{\"@odata."
    "id\":\"/redfish/v1/Chassis\"},\"Managers\":{\"@odata.id\":\"/redfish/v1/Managers\"},\"Tasks\":"
    "{\"@odata.id\":\"/redfish/v1/TaskService\"},\"SessionService\":{\"@odata.id\":\"/redfish/v1/"
    "SessionService\"},\"AccountService\":{\"@odata.id\":\"/redfish/v1/AccountService\"},"
    "\"EventService\":{\"@odata.id\":\"/redfish/v1/EventService\"},\"JsonSchemas\":{\"@odata.id\":"
    "\"/redfish/v1/JsonSchemas\"}}";

// A plain TCP connection to 127.0.0.1:port; -1 on failure.
inline int connectTo(int port, int timeoutMs = 10000) {
    return ts::connectLoopback(port, timeoutMs);
}

// Like connectTo, with the client's end bound to `source` (an address of the
// loopback network such as "127.0.0.2").
inline int connectFrom(const char* source, int port, int timeoutMs = 10000) {
    return ts::connectLoopback(port, timeoutMs, source);
}

// Everything the server sends until it closes (or the receive time-out).
inline std::string readAll(int fd) {
    std::string out;
    char buf[8192];
    for (;;) {
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n > 0)
            out.append(buf, static_cast<size_t>(n));
        else if (n < 0 && errno == EINTR)
            continue;
        else
            break;
    }
    return out;
}

// Closes with a reset instead of an orderly shutdown, so the server's next
// write on the connection fails.
inline void resetClose(int fd) {
    linger l{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    ::close(fd);
}

inline int countOf(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1))
        ++n;
    return n;
}

} // namespace handlertest

#endif
