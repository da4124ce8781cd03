#include "hostkit.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace hostkit {

namespace {

struct LibraryInit {
    LibraryInit() { mg_init_library(0); }
};

void initLibraryOnce() {
    static LibraryInit init;
}

} // namespace

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::string::size_type start = 0;
    while (start < text.size()) {
        std::string::size_type end = text.find('\n', start);
        if (end == std::string::npos) {
            result.push_back(text.substr(start));
            break;
        }
        result.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return result;
}

TestHost::TestHost(const HostOptions& options) : dir_(ts::makeTempDir("tolvane-httplayer")) {
    initLibraryOnce();
    std::vector<std::string> opts = {"listening_ports",    "127.0.0.1:0",
                                     "num_threads",        std::to_string(options.threads),
                                     "request_timeout_ms", std::to_string(options.requestTimeoutMs),
                                     "enable_keep_alive",  options.keepAlive ? "yes" : "no",
                                     "error_log_file",     errorLogPath()};
    CivetCallbacks callbacks;
    callbacks.end_request = &TestHost::endRequest;
    server_.reset(new CivetServer(opts, &callbacks, this));
    std::vector<int> ports = server_->getListeningPorts();
    if (ports.empty()) {
        throw std::runtime_error("test host has no listening port");
    }
    port_ = ports.front();
}

TestHost::~TestHost() {
    stop();
    removeTree(dir_);
}

void TestHost::stop() {
    if (server_) {
        server_->close();
    }
}

void TestHost::endRequest(const struct mg_connection* conn, int status) {
    const struct mg_request_info* ri = mg_get_request_info(conn);
    if (ri == nullptr || ri->user_data == nullptr) {
        return;
    }
    auto* server = static_cast<CivetServer*>(ri->user_data);
    auto* host = static_cast<TestHost*>(const_cast<void*>(server->getUserContext()));
    std::lock_guard<std::mutex> lock(host->mutex_);
    host->statuses_.push_back(status);
}

std::vector<int> TestHost::endStatuses() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return statuses_;
}

std::vector<std::string> TestHost::infoLines() const {
    std::vector<std::string> result;
    for (const std::string& line : lines(errorLog())) {
        if (line.find("] [info] [client ") != std::string::npos) {
            result.push_back(line);
        }
    }
    return result;
}

RawClient::RawClient(int port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd_ < 0) {
        return;
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

RawClient::~RawClient() {
    close();
}

void RawClient::close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

bool RawClient::send(const std::string& bytes) {
    size_t sent = 0;
    while (fd_ >= 0 && sent < bytes.size()) {
        ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        sent += static_cast<size_t>(n);
    }
    return fd_ >= 0;
}

namespace {

// Reads what is available within the time left; false on close, error or
// time-out.
bool readSome(int fd, std::string& into, std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0) {
        return false;
    }
    pollfd pfd{fd, POLLIN, 0};
    if (::poll(&pfd, 1, static_cast<int>(left)) <= 0) {
        return false;
    }
    char buf[8192];
    ssize_t n = ::recv(fd, buf, sizeof(buf), 0);
    if (n <= 0) {
        return false;
    }
    into.append(buf, static_cast<size_t>(n));
    return true;
}

} // namespace

void RawClient::shutdownWrite() {
    if (fd_ >= 0) {
        ::shutdown(fd_, SHUT_WR);
    }
}

std::string RawClient::readAll(int timeoutMs) {
    std::string data;
    data.swap(pending_);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (fd_ >= 0 && readSome(fd_, data, deadline)) {
    }
    return data;
}

std::string RawClient::readResponse(int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string data;
    data.swap(pending_);
    std::string::size_type headerEnd;
    while ((headerEnd = data.find("\r\n\r\n")) == std::string::npos) {
        if (fd_ < 0 || !readSome(fd_, data, deadline)) {
            return "";
        }
    }
    size_t bodyLength = 0;
    std::string head = data.substr(0, headerEnd);
    for (const std::string& line : lines(head)) {
        if (strncasecmp(line.c_str(), "Content-Length:", 15) == 0) {
            bodyLength = std::strtoul(line.c_str() + 15, nullptr, 10);
        }
    }
    const size_t total = headerEnd + 4 + bodyLength;
    while (data.size() < total) {
        if (!readSome(fd_, data, deadline)) {
            return "";
        }
    }
    pending_ = data.substr(total);
    return data.substr(0, total);
}

int statusOf(const std::string& response) {
    if (response.compare(0, 5, "HTTP/") != 0) {
        return -1;
    }
    std::string::size_type space = response.find(' ');
    if (space == std::string::npos) {
        return -1;
    }
    return std::atoi(response.c_str() + space + 1);
}

std::string bodyOf(const std::string& response) {
    std::string::size_type end = response.find("\r\n\r\n");
    return end == std::string::npos ? "" : response.substr(end + 4);
}

void answer(struct mg_connection* conn, int status, const std::string& body) {
    mg_disable_connection_keep_alive(conn);
    mg_printf(conn,
              "HTTP/1.1 %d X\r\nContent-Type: text/plain\r\nContent-Length: %zu\r\n"
              "Connection: close\r\n\r\n",
              status, body.size());
    mg_write(conn, body.data(), body.size());
}

} // namespace hostkit
