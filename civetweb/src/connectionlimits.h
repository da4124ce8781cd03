// Limits the engine applies to clients on behalf of a server object: how many
// connections one client address may hold open, how long a connection may
// take to send a whole request head (the TLS handshake included), and how
// many connections that have not yet authenticated may hold a worker.
//
// A connection "waits" from its acceptance until a request on it passes the
// gate with credentials. Workers belong to authenticated work: waiting
// connections are capped across all addresses, each has the head deadline
// for everything up to its request's body (handshake, head and a login's
// body), counted again for each further request, and its request bodies are
// capped small.
#ifndef TOLVANE_CONNECTIONLIMITS_H
#define TOLVANE_CONNECTIONLIMITS_H

#include <cstddef>
#include <string>

struct mg_context;

struct ConnectionLimits {
    int connectionsPerClient = 0;     // 0: no cap
    int requestHeadTimeoutMs = 0;     // 0: the engine's own request time-out
    int waitingConnections = 0;       // 0: no cap
    std::size_t waitingBodyBytes = 0; // 0: no cap of its own
};

// The server options that set ConnectionLimits; the engine does not know them.
constexpr const char* kConnectionsPerClientOption = "max_connections_per_client";
constexpr const char* kRequestHeadTimeoutOption = "request_head_timeout_ms";
constexpr const char* kWaitingConnectionsOption = "max_unauthenticated_connections";
constexpr const char* kWaitingBodyBytesOption = "max_unauthenticated_body_bytes";

// Applies the limits to the engine context `ctx` from now on; until then, and
// for contexts never registered, nothing is limited.
void registerConnectionLimits(const struct mg_context* ctx, const ConnectionLimits& limits);
void unregisterConnectionLimits(const struct mg_context* ctx);

// Open connections of `address` on `ctx` as counted (for tests).
int openConnectionsOf(const struct mg_context* ctx, const std::string& address);

// The body cap of a request on a connection that has not authenticated.
std::size_t waitingBodyBytes(const struct mg_context* ctx);

#endif
