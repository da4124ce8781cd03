// Limits the engine applies to clients on behalf of a server object: how many
// connections one client address may hold open, and how long a connection
// may take to send a whole request head (the TLS handshake included).
#ifndef TOLVANE_CONNECTIONLIMITS_H
#define TOLVANE_CONNECTIONLIMITS_H

#include <string>

struct mg_context;

struct ConnectionLimits {
    int connectionsPerClient = 0; // 0: no cap
    int requestHeadTimeoutMs = 0; // 0: the engine's own request time-out
};

// The server options that set ConnectionLimits; the engine does not know them.
constexpr const char* kConnectionsPerClientOption = "max_connections_per_client";
constexpr const char* kRequestHeadTimeoutOption = "request_head_timeout_ms";

// Applies the limits to the engine context `ctx` from now on; until then, and
// for contexts never registered, nothing is limited.
void registerConnectionLimits(const struct mg_context* ctx, const ConnectionLimits& limits);
void unregisterConnectionLimits(const struct mg_context* ctx);

// Open connections of `address` on `ctx` as counted (for tests).
int openConnectionsOf(const struct mg_context* ctx, const std::string& address);

#endif
