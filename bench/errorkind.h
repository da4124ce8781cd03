// The ways one request of the load tool can fail.
#ifndef TOLVANE_BENCH_ERRORKIND_H
#define TOLVANE_BENCH_ERRORKIND_H

namespace bench {

enum class ErrorKind {
    None,
    Connect,   // no TCP connection (refused, unreachable, time-out)
    Handshake, // TLS handshake failed or timed out
    Send,      // the request could not be sent completely
    Read,      // read error or time-out before the server closed
    Empty,     // the server closed without sending a byte
    Malformed, // no valid status line, incomplete header block, wrong Content-Length
    Status     // a well-formed response with an unexpected status class
};
constexpr int kErrorKindCount = 8;

// "connect", "handshake", ...; "ok" for None.
const char* errorKindName(ErrorKind kind);

} // namespace bench

#endif
