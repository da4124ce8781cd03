#include "cannedserver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

namespace benchtest {

namespace {

int boundLoopbackSocket(int& port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw std::runtime_error("socket failed");
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        throw std::runtime_error("bind failed");
    }
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    port = ntohs(addr.sin_port);
    return fd;
}

// Bytes of the request: header block, then as many body bytes as its
// Content-Length says.
std::string readRequest(int fd) {
    std::string data;
    char buf[4096];
    size_t needed = std::string::npos;
    while (needed == std::string::npos || data.size() < needed) {
        // A request that stalls (or is no HTTP at all, like a TLS hello) is
        // answered after a short pause.
        pollfd pfd{fd, POLLIN, 0};
        if (::poll(&pfd, 1, data.empty() ? 5000 : 300) <= 0)
            break;
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            break;
        data.append(buf, static_cast<size_t>(n));
        size_t end = data.find("\r\n\r\n");
        if (needed == std::string::npos && end != std::string::npos) {
            size_t length = 0;
            size_t at = data.find("Content-Length: ");
            if (at != std::string::npos && at < end)
                length = std::strtoul(data.c_str() + at + 16, nullptr, 10);
            needed = end + 4 + length;
        }
    }
    return data;
}

} // namespace

int unusedPort() {
    int port = 0;
    int fd = boundLoopbackSocket(port);
    ::close(fd);
    return port;
}

CannedServer::CannedServer(Responder responder) : responder(std::move(responder)) {
    listenFd = boundLoopbackSocket(listenPort);
    if (::listen(listenFd, 64) != 0) {
        ::close(listenFd);
        throw std::runtime_error("listen failed");
    }
    thread = std::thread(&CannedServer::serve, this);
}

CannedServer::~CannedServer() {
    stopping = true;
    thread.join();
    ::close(listenFd);
}

std::vector<std::string> CannedServer::requests() const {
    std::lock_guard<std::mutex> lock(mutex);
    return received;
}

void CannedServer::serve() {
    while (!stopping) {
        pollfd pfd{listenFd, POLLIN, 0};
        if (::poll(&pfd, 1, 50) <= 0)
            continue;
        int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        handle(fd, accepted++);
        ::close(fd);
    }
}

void CannedServer::handle(int fd, int connection) {
    std::string request = readRequest(fd);
    {
        std::lock_guard<std::mutex> lock(mutex);
        received.push_back(request);
    }
    std::string reply = responder(connection, request);
    size_t sent = 0;
    while (sent < reply.size()) {
        ssize_t n = ::send(fd, reply.data() + sent, reply.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            break;
        sent += static_cast<size_t>(n);
    }
    ::shutdown(fd, SHUT_WR);
}

} // namespace benchtest
