#include "redfishserver/httpoptions.h"

#include <cstdio>
#include <cstring>
#include <algorithm>
#include <string>

#include <openssl/ssl.h>

#include "civetweb.h"
#include "protocol/protocolprofile.h"
#include "redfishserver/installpaths.h"
#include "redfishserver/serverconfig.h"

std::vector<std::string> gServerOptions;
char gListeningPortText[16];

namespace {

constexpr unsigned kTlsFeature = 2;

// Name/value pairs ended by an empty entry. The values of "listening_ports",
// "request_timeout_ms", "error_log_file" and "ssl_certificate" are replaced
// when the list is built, and those of the options the configuration sets
// ("num_threads", the connection limits: serverconfig.cpp), which are added
// when the table lacks them.
// clang-format off
const char* const kPlainOptions[] = {
    "listening_ports",                   "8080",
    "request_timeout_ms",                "0",
    "error_log_file",                    "WebServer.log",
    "enable_auth_domain_check",          "no",
    "strict_transport_security_max_age", "15552000",
    "num_threads",                       "50",
    "",
};

const char* const kTlsOptions[] = {
    "listening_ports",                   "8443s",
    "request_timeout_ms",                "0",
    "error_log_file",                    "WebServer.log",
    "ssl_certificate",                   "server.pem",
    "ssl_protocol_version",              "3",
    "ssl_cipher_list",                   "ECDH+AESGCM+AES256:!aNULL:!MD5:!DSS",
    "enable_auth_domain_check",          "no",
    "strict_transport_security_max_age", "15552000",
    "num_threads",                       "50",
    "",
};
// clang-format on

constexpr size_t entriesBeforeEnd(size_t arrayLength) {
    return arrayLength - 1;
}

} // namespace

std::string serverCertificatePath() {
    return serverDirectory() + "server.pem";
}

bool buildServerOptions(const char* const* table, size_t count) {
    gServerOptions.clear();
    // Those the table lacks follow it, in the configuration's order.
    std::vector<std::pair<std::string, std::string>> configured = configuredEngineOptions();
    for (size_t i = 0; i < count; ++i) {
        const char* entry = table[i];
        if (std::strcmp(entry, "listening_ports") == 0) {
            gServerOptions.emplace_back(entry);
            std::memset(gListeningPortText, 0, sizeof gListeningPortText);
            if (ServerConfig.CommunicationProtocolHttps)
                std::snprintf(gListeningPortText, sizeof gListeningPortText, "%ds",
                              ServerConfig.CommunicationPortHttps);
            else
                std::snprintf(gListeningPortText, sizeof gListeningPortText, "%d",
                              ServerConfig.CommunicationPortHttp);
            // The standard profile listens on IPv6 as well: "+" asks the
            // engine for one socket that takes both.
            if (profileRules().listensOnIpv6)
                gServerOptions.push_back(std::string("+") + gListeningPortText);
            else
                gServerOptions.emplace_back(gListeningPortText);
            ++i;
        } else if (std::strcmp(entry, "request_timeout_ms") == 0) {
            // A time-out of 0 makes the library drop requests; without the
            // option its own default applies.
            if (ServerConfig.SessionTimeout > 0) {
                gServerOptions.emplace_back(entry);
                gServerOptions.push_back(std::to_string(ServerConfig.SessionTimeout));
            }
            ++i;
        } else if (std::strcmp(entry, "error_log_file") == 0) {
            gServerOptions.emplace_back(entry);
            // The log directory ends with a separator already; the doubled one
            // is harmless and kept as the file's known location.
            gServerOptions.push_back(std::string(gLogDirectory) + TOLVANE_PATH_SEP "WebServer.log");
            ++i;
        } else if (std::strcmp(entry, "ssl_certificate") == 0) {
            gServerOptions.emplace_back(entry);
            gServerOptions.push_back(serverCertificatePath());
            ++i;
        } else if (auto option = std::find_if(configured.begin(), configured.end(),
                                              [&](const auto& o) { return o.first == entry; });
                   option != configured.end()) {
            gServerOptions.emplace_back(entry);
            gServerOptions.push_back(option->second);
            configured.erase(option);
            ++i;
        } else {
            gServerOptions.emplace_back(entry);
        }
    }
    for (const auto& [name, value] : configured) {
        gServerOptions.push_back(name);
        gServerOptions.push_back(value);
    }
    // Standard answers carry their length, so a connection can serve the
    // next request; an idle one is closed after two seconds.
    if (profileRules().keepsConnections) {
        for (const char* option : {"enable_keep_alive", "yes", "keep_alive_timeout_ms", "2000"})
            gServerOptions.emplace_back(option);
    }
    return true;
}

bool initHttpLibrary() {
    if (ServerConfig.CommunicationProtocolHttps) {
        unsigned features = mg_init_library(kTlsFeature);
        if ((features & kTlsFeature) == 0) {
            WriteOutLog("Failed to initialize Library with SSL\n");
            return false;
        }
        WriteOutLog("Library initialized with SSL\n");
        return buildServerOptions(kTlsOptions,
                                  entriesBeforeEnd(sizeof kTlsOptions / sizeof kTlsOptions[0]));
    }
    mg_init_library(0);
    return buildServerOptions(kPlainOptions,
                              entriesBeforeEnd(sizeof kPlainOptions / sizeof kPlainOptions[0]));
}

int configureTlsSessions(void* sslContext, void*) {
    // A resumed handshake skips the certificate's signature (and in TLS 1.2
    // the key exchange). OpenSSL's own cache holds up to 20,480 sessions,
    // megabytes that a run of full handshakes fills; this one stays small.
    SSL_CTX* context = static_cast<SSL_CTX*>(sslContext);
    SSL_CTX_set_session_cache_mode(context, SSL_SESS_CACHE_SERVER);
    SSL_CTX_sess_set_cache_size(context, kTlsSessionCacheSize);
    return 0;
}
