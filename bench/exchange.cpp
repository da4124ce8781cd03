#include "exchange.h"

#include <cctype>
#include <cstdlib>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/time.h>
#include <unistd.h>

#include <openssl/err.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <stdexcept>

namespace bench {

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kReadChunk = 16384;

// Closes the descriptor when the exchange ends, whatever way it ends.
class SocketGuard {
  public:
    explicit SocketGuard(int fd) : fd(fd) {}
    ~SocketGuard() {
        if (fd >= 0)
            ::close(fd);
    }
    SocketGuard(const SocketGuard&) = delete;
    SocketGuard& operator=(const SocketGuard&) = delete;

  private:
    int fd;
};

struct SslFree {
    void operator()(SSL* ssl) const { SSL_free(ssl); }
};

std::string errnoText(const char* step, int err) {
    return std::string(step) + ": " + std::strerror(err);
}

std::string tlsErrorText(const char* step, SSL* ssl, int ret) {
    int code = SSL_get_error(ssl, ret);
    std::string text = std::string(step) + ": ";
    unsigned long err = ERR_get_error();
    if (err != 0) {
        char buf[256];
        ERR_error_string_n(err, buf, sizeof buf);
        text += buf;
    } else if (code == SSL_ERROR_WANT_READ || code == SSL_ERROR_WANT_WRITE) {
        text += "timed out";
    } else if (code == SSL_ERROR_SYSCALL) {
        text += errno != 0 ? std::strerror(errno) : "connection closed";
    } else {
        text += "SSL error " + std::to_string(code);
    }
    ERR_clear_error();
    return text;
}

void setTimeouts(int fd, int timeoutMs) {
    timeval tv{};
    tv.tv_sec = timeoutMs / 1000;
    tv.tv_usec = (timeoutMs % 1000) * 1000;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

bool pastDeadline(Clock::time_point deadline) {
    return Clock::now() > deadline;
}

} // namespace

bool resolveEndpoint(const std::string& host, int port, Endpoint& endpoint, std::string& error) {
    endpoint = Endpoint();
    auto* v4 = reinterpret_cast<sockaddr_in*>(&endpoint.address);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&endpoint.address);
    if (::inet_pton(AF_INET, host.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(static_cast<uint16_t>(port));
        endpoint.length = sizeof(sockaddr_in);
        return true;
    }
    if (::inet_pton(AF_INET6, host.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(static_cast<uint16_t>(port));
        endpoint.length = sizeof(sockaddr_in6);
        return true;
    }
    error = "host \"" + host + "\" is not a numeric IPv4 or IPv6 address";
    return false;
}

TlsClientContext::TlsClientContext(bool resumeSessions, const std::string& version, bool tickets)
    : resume(resumeSessions) {
    ctx = SSL_CTX_new(TLS_client_method());
    if (!ctx)
        throw std::runtime_error("SSL_CTX_new failed");
    SSL_CTX_set_verify(ctx, SSL_VERIFY_NONE, nullptr);
    // The server ends every response by closing; a missing close_notify is
    // the normal end of a response here, not a truncation attack.
    SSL_CTX_set_options(ctx, SSL_OP_IGNORE_UNEXPECTED_EOF);
    if (version == "1.2") {
        SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
        SSL_CTX_set_max_proto_version(ctx, TLS1_2_VERSION);
    } else if (version == "1.3") {
        SSL_CTX_set_min_proto_version(ctx, TLS1_3_VERSION);
        SSL_CTX_set_max_proto_version(ctx, TLS1_3_VERSION);
    }
    if (resume) {
        SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_CLIENT);
        if (!tickets)
            SSL_CTX_set_options(ctx, SSL_OP_NO_TICKET);
    } else {
        SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_OFF);
        SSL_CTX_set_options(ctx, SSL_OP_NO_TICKET);
    }
}

TlsClientContext::~TlsClientContext() {
    SSL_CTX_free(ctx);
}

Exchanger::Exchanger(const Endpoint& endpoint, const TlsClientContext* tls, int timeoutMs,
                     bool keepAlive)
    : endpoint(endpoint), tls(tls), timeoutMs(timeoutMs), keepAlive(keepAlive && !tls) {}

Exchanger::~Exchanger() {
    if (savedSession)
        SSL_SESSION_free(savedSession);
    if (keptFd >= 0)
        ::close(keptFd);
}

size_t completeAnswerLength(const std::string& bytes) {
    const size_t headEnd = bytes.find("\r\n\r\n");
    if (headEnd == std::string::npos)
        return 0;
    static const char kName[] = "\r\ncontent-length:";
    const size_t nameLength = sizeof kName - 1;
    for (size_t at = bytes.find("\r\n"); at < headEnd; at = bytes.find("\r\n", at + 2)) {
        if (at + nameLength > headEnd)
            break;
        bool match = true;
        for (size_t i = 0; i < nameLength && match; ++i)
            match = std::tolower(static_cast<unsigned char>(bytes[at + i])) == kName[i];
        if (!match)
            continue;
        const size_t length = std::strtoull(bytes.c_str() + at + nameLength, nullptr, 10);
        const size_t total = headEnd + 4 + length;
        return bytes.size() >= total ? total : 0;
    }
    return 0;
}

ExchangeResult Exchanger::exchangeKept(const std::string& request, std::string& response) {
    ExchangeResult result;
    // A kept connection the server closed while idle fails at once; one
    // fresh connection then carries the request.
    for (int attempt = 0; attempt < 2; ++attempt) {
        const bool reused = keptFd >= 0;
        if (!reused && (keptFd = connectSocket(result)) < 0)
            return result;
        bool closed = false;
        response.clear();
        result = exchangePlain(keptFd, request, response, &closed);
        const bool keep = result.error == ErrorKind::None && !closed &&
                          response.find("\r\nConnection: close\r\n") == std::string::npos;
        if (!keep) {
            ::close(keptFd);
            keptFd = -1;
        }
        if (reused && response.empty() && (closed || result.error != ErrorKind::None))
            continue;
        return result;
    }
    return result;
}

int Exchanger::connectSocket(ExchangeResult& result) {
    int fd = ::socket(endpoint.address.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        result.error = ErrorKind::Connect;
        result.detail = errnoText("socket", errno);
        return -1;
    }
    int rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&endpoint.address), endpoint.length);
    if (rc != 0 && errno != EINPROGRESS) {
        result.error = ErrorKind::Connect;
        result.detail = errnoText("connect", errno);
        ::close(fd);
        return -1;
    }
    if (rc != 0) {
        pollfd pfd{fd, POLLOUT, 0};
        int ready;
        do {
            ready = ::poll(&pfd, 1, timeoutMs);
        } while (ready < 0 && errno == EINTR);
        int soError = 0;
        socklen_t len = sizeof soError;
        if (ready == 0) {
            soError = ETIMEDOUT;
        } else if (ready < 0) {
            soError = errno;
        } else if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &len) != 0) {
            soError = errno;
        }
        if (soError != 0) {
            result.error = ErrorKind::Connect;
            result.detail = errnoText("connect", soError);
            ::close(fd);
            return -1;
        }
    }
    // Blocking from here on, each step bounded by the socket time-outs.
    int flags = ::fcntl(fd, F_GETFL);
    ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    setTimeouts(fd, timeoutMs);
    return fd;
}

ExchangeResult Exchanger::exchange(const std::string& request, std::string& response) {
    if (keepAlive)
        return exchangeKept(request, response);
    response.clear();
    ExchangeResult result;
    int fd = connectSocket(result);
    if (fd < 0)
        return result;
    SocketGuard guard(fd);
    return tls ? exchangeTls(fd, request, response) : exchangePlain(fd, request, response);
}

ExchangeResult Exchanger::exchangePlain(int fd, const std::string& request, std::string& response,
                                        bool* closed) {
    ExchangeResult result;
    size_t sent = 0;
    while (sent < request.size()) {
        ssize_t n = ::send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            result.error = ErrorKind::Send;
            result.detail = errnoText("send", n < 0 ? errno : EPIPE);
            return result;
        }
        sent += static_cast<size_t>(n);
    }
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    char buf[kReadChunk];
    // Kept alive, the answer ends at its length; otherwise at the close.
    while (!closed || completeAnswerLength(response) == 0) {
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n > 0) {
            response.append(buf, static_cast<size_t>(n));
        } else if (n == 0) {
            if (closed)
                *closed = true;
            return result;
        } else if (errno != EINTR) {
            result.error = ErrorKind::Read;
            result.detail = errno == EAGAIN || errno == EWOULDBLOCK ? std::string("read: timed out")
                                                                    : errnoText("read", errno);
            return result;
        }
        if (pastDeadline(deadline)) {
            result.error = ErrorKind::Read;
            result.detail = "read: response not complete within the time-out";
            return result;
        }
    }
    return result;
}

ExchangeResult Exchanger::exchangeTls(int fd, const std::string& request, std::string& response) {
    ExchangeResult result;
    ERR_clear_error();
    std::unique_ptr<SSL, SslFree> ssl(SSL_new(tls->get()));
    if (!ssl || SSL_set_fd(ssl.get(), fd) != 1) {
        result.error = ErrorKind::Handshake;
        result.detail = "SSL_new failed";
        return result;
    }
    if (tls->resumes() && savedSession)
        SSL_set_session(ssl.get(), savedSession);
    errno = 0;
    int rc = SSL_connect(ssl.get());
    if (rc != 1) {
        result.error = ErrorKind::Handshake;
        result.detail = tlsErrorText("handshake", ssl.get(), rc);
        return result;
    }
    result.resumed = SSL_session_reused(ssl.get()) == 1;

    size_t sent = 0;
    while (sent < request.size()) {
        errno = 0;
        int n = SSL_write(ssl.get(), request.data() + sent,
                          static_cast<int>(std::min<size_t>(request.size() - sent, 1 << 20)));
        if (n <= 0) {
            result.error = ErrorKind::Send;
            result.detail = tlsErrorText("send", ssl.get(), n);
            return result;
        }
        sent += static_cast<size_t>(n);
    }
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    char buf[kReadChunk];
    for (;;) {
        errno = 0;
        int n = SSL_read(ssl.get(), buf, sizeof buf);
        if (n > 0) {
            response.append(buf, static_cast<size_t>(n));
        } else {
            int code = SSL_get_error(ssl.get(), n);
            if (code == SSL_ERROR_ZERO_RETURN)
                break;
            result.error = ErrorKind::Read;
            result.detail = tlsErrorText("read", ssl.get(), n);
            return result;
        }
        if (pastDeadline(deadline)) {
            result.error = ErrorKind::Read;
            result.detail = "read: response not complete within the time-out";
            return result;
        }
    }
    if (tls->resumes()) {
        // TLS 1.3 tickets arrive after the handshake; take the session now.
        SSL_SESSION* session = SSL_get1_session(ssl.get());
        if (session) {
            if (savedSession)
                SSL_SESSION_free(savedSession);
            savedSession = session;
        }
        // The server closed without close_notify; mark the connection as shut
        // down properly so OpenSSL keeps the session resumable.
        SSL_set_shutdown(ssl.get(), SSL_SENT_SHUTDOWN | SSL_RECEIVED_SHUTDOWN);
    }
    return result;
}

} // namespace bench
