// The HTTP library's option list, built from one of two fixed tables.
#ifndef TOLVANE_HTTPOPTIONS_H
#define TOLVANE_HTTPOPTIONS_H

#include <cstddef>
#include <string>
#include <vector>

// Names and values alternating, in table order; handed to CivetServer.
extern std::vector<std::string> gServerOptions;
// The "listening_ports" value as composed (e.g. "8443s").
extern char gListeningPortText[16];

// The "ssl_certificate" file: "server.pem" in the server directory.
std::string serverCertificatePath();

// Initialises the HTTP library (with TLS when configured) and builds the
// option list. False when TLS was requested and is not available.
bool initHttpLibrary();

// The HTTP library's TLS set-up hook (init_ssl): a client that reconnects
// may resume its session, by session id from a cache of at most
// kTlsSessionCacheSize sessions (TLS 1.2) or by ticket; the library then goes
// on with the certificate. `sslContext` is the library's SSL_CTX.
constexpr long kTlsSessionCacheSize = 1024;
int configureTlsSessions(void* sslContext, void* userData);

// Fills gServerOptions from `table` (name/value texts, `count` entries before
// the ending empty entry). Always true.
bool buildServerOptions(const char* const* table, size_t count);

#endif
