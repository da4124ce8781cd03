#include "loopback.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>

namespace fuzzsupport {

namespace {

sockaddr_in loopbackAddress(int port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return addr;
}

// Owns a socket descriptor.
struct Socket {
    int fd;
    explicit Socket(int f) : fd(f) {}
    ~Socket() {
        if (fd >= 0)
            ::close(fd);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
};

int connectTo(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in addr = loopbackAddress(port);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

} // namespace

int freeLoopbackPort() {
    Socket s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (s.fd < 0)
        return 0;
    sockaddr_in addr = loopbackAddress(0);
    socklen_t len = sizeof addr;
    if (::bind(s.fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::getsockname(s.fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        return 0;
    return ntohs(addr.sin_port);
}

bool stillAnswers(int port, const std::string& request, const std::string& expected,
                  int timeoutMs) {
    const std::string answer = exchange(port, request.data(), request.size(), timeoutMs);
    if (answer.compare(0, expected.size(), expected) == 0)
        return true;
    std::fprintf(stderr, "the server no longer answers a well-formed request: \"%.200s\"\n",
                 answer.c_str());
    return false;
}

std::string exchange(int port, const char* data, size_t size, int timeoutMs, bool* timedOut) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    if (timedOut)
        *timedOut = false;
    std::string received;
    Socket s(connectTo(port));
    if (s.fd < 0)
        return received;

    // Send and read side by side: a server that answers early and stops
    // reading must not leave the sender blocked on a full buffer.
    size_t sent = 0;
    bool sendingDone = false;
    char buffer[16384];
    for (;;) {
        if (!sendingDone && sent == size) {
            ::shutdown(s.fd, SHUT_WR);
            sendingDone = true;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            if (timedOut)
                *timedOut = true;
            return received;
        }
        pollfd pfd{s.fd, static_cast<short>(POLLIN | (sendingDone ? 0 : POLLOUT)), 0};
        int ready = ::poll(&pfd, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            return received;
        if (ready == 0)
            continue;
        if (pfd.revents & POLLIN) {
            ssize_t n = ::recv(s.fd, buffer, sizeof buffer, 0);
            if (n > 0) {
                received.append(buffer, static_cast<size_t>(n));
                continue;
            }
            if (n == 0 || (errno != EINTR && errno != EAGAIN))
                return received; // closed or reset
            continue;
        }
        if (pfd.revents & POLLOUT) {
            ssize_t n = ::send(s.fd, data + sent, size - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0)
                sent += static_cast<size_t>(n);
            else if (n < 0 && errno != EINTR && errno != EAGAIN)
                sendingDone = true; // the server stopped reading; read what it said
            continue;
        }
        if (pfd.revents & (POLLERR | POLLHUP))
            return received;
    }
}

} // namespace fuzzsupport
