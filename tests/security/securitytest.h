// Helpers of the attack tests.
#ifndef TOLVANE_SECURITYTEST_H
#define TOLVANE_SECURITYTEST_H

#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "testsupport.h"

namespace securitytest {

// Sends `text` over plain TCP from the loopback address `source` and reads
// the answer until the server closes; "" when no connection could be made.
inline std::string exchangeFrom(const char* source, int port, const std::string& text) {
    const int fd = ts::connectLoopback(port, 10000, source);
    if (fd < 0)
        return "";
    const std::string raw = ts::exchangeOn(fd, text);
    ::close(fd);
    return raw;
}

// Whether the second loopback address can be used as a client's source here.
inline bool secondAddressWorks(int port) {
    const int fd = ts::connectLoopback(port, 10000, "127.0.0.2");
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

} // namespace securitytest

#endif
