// One request/response exchange over a fresh TCP connection, plain or TLS:
// connect, (handshake), send all bytes, read until the server closes. Plain
// HTTP may instead keep the connection: the answer then ends after its
// Content-Length, and the next exchange reuses the connection.
#ifndef TOLVANE_BENCH_EXCHANGE_H
#define TOLVANE_BENCH_EXCHANGE_H

#include <sys/socket.h>

#include <openssl/ssl.h>

#include <string>

#include "errorkind.h"

namespace bench {

struct Endpoint {
    sockaddr_storage address{};
    socklen_t length = 0;
};

// Numeric IPv4 or IPv6 address and port; false with `error` set otherwise.
bool resolveEndpoint(const std::string& host, int port, Endpoint& endpoint, std::string& error);

// Client TLS context shared by all clients of a run. Certificates are not
// verified (the servers under test use self-signed ones). Without
// resumption no session is cached or offered, so every connection makes a
// full handshake.
class TlsClientContext {
  public:
    // `version`: "", "1.2" or "1.3". `tickets` false: a session is resumed
    // only from the server's session cache (TLS 1.2 session ids), never by a
    // ticket. Throws std::runtime_error on failure.
    TlsClientContext(bool resumeSessions, const std::string& version, bool tickets = true);
    ~TlsClientContext();
    TlsClientContext(const TlsClientContext&) = delete;
    TlsClientContext& operator=(const TlsClientContext&) = delete;

    SSL_CTX* get() const { return ctx; }
    bool resumes() const { return resume; }

  private:
    SSL_CTX* ctx = nullptr;
    bool resume = false;
};

struct ExchangeResult {
    ErrorKind error = ErrorKind::None; // transport errors only; the response is checked elsewhere
    std::string detail;
    bool resumed = false; // the TLS session was resumed
};

// The exchanges of one client, one after another. Keeps the client's last TLS
// session when the context allows resumption.
class Exchanger {
  public:
    // `tls` null: plain HTTP. `keepAlive` (plain HTTP only): reuse the
    // connection while the server keeps it open.
    Exchanger(const Endpoint& endpoint, const TlsClientContext* tls, int timeoutMs,
              bool keepAlive = false);
    ~Exchanger();
    Exchanger(const Exchanger&) = delete;
    Exchanger& operator=(const Exchanger&) = delete;

    // Sends `request` and fills `response` with every byte read until the
    // server closed the connection, or, kept alive, until the answer's end
    // (cleared first).
    ExchangeResult exchange(const std::string& request, std::string& response);

  private:
    int connectSocket(ExchangeResult& result);
    // `closed` given: the connection stays open, the answer ends at its
    // Content-Length, and *closed tells whether the server closed it.
    ExchangeResult exchangePlain(int fd, const std::string& request, std::string& response,
                                 bool* closed = nullptr);
    ExchangeResult exchangeKept(const std::string& request, std::string& response);
    ExchangeResult exchangeTls(int fd, const std::string& request, std::string& response);

    Endpoint endpoint;
    const TlsClientContext* tls;
    int timeoutMs;
    SSL_SESSION* savedSession = nullptr;
    bool keepAlive = false;
    int keptFd = -1;
};

// The length of a whole answer at the start of `bytes` (head and a body of
// its Content-Length), 0 while incomplete or when it has no length.
size_t completeAnswerLength(const std::string& bytes);

} // namespace bench

#endif
