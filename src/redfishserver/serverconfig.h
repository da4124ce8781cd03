// Settings read once from ServerConfiguration.json at start-up; read-only
// once the HTTP server runs.
#ifndef TOLVANE_SERVERCONFIG_H
#define TOLVANE_SERVERCONFIG_H

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct ServerConfiguration {
    bool CommunicationProtocolHttps = false;
    bool CommunicationProtocolHttp = false;
    int32_t CommunicationPortHttps = 0;
    int32_t CommunicationPortHttp = 0;
    bool SkipAuthentication = false;
    int32_t OsEventLoggingLevel = 0;
    int32_t SessionTimeout = 0;
    int32_t MaximumNumberOfConcurrentSessions = 0;
    int32_t MaximumNumberOfEventSubscriptions = 0;
    int32_t MaximumEventDeliveryRetry = 0;
    int32_t WatchdogTimeout = 0;
    bool SsdpAdvertisement = false;
    bool SystemAlarmEnabled = false;
    std::string CommunicationHostAddressHttps;
    std::string CommunicationHostAddressHttp;
    bool CurlEventDelivery = false;
    int32_t RedfishDebugMask = 0;
    int32_t rollingSize = 0;
    int32_t rollingCount = 0;
    // Largest request body (bytes) accepted for non-upload requests; 0 means
    // the built-in 1 MiB.
    int32_t MaximumRequestBodySize = 0;
    // Largest upload (bytes stored in files by one multipart request); 0 means
    // the built-in 64 MiB.
    int32_t MaximumUploadSize = 0;
    // HTTP worker threads; 0 means the built-in 50.
    int32_t NumberOfWorkerThreads = 0;
    // Open connections one client address may hold; 0 means the built-in 16.
    int32_t MaximumConnectionsPerClient = 0;
    // Milliseconds a connection has to send a whole request head. Until it
    // has authenticated this covers the TLS handshake and a login's body
    // too, counted from the connection's start (or the previous answer);
    // 0 means the built-in 5,000.
    int32_t RequestHeadTimeout = 0;
    // Connections that have not authenticated yet, across all addresses; 0
    // means the built-in 16. Keep it well below NumberOfWorkerThreads: the
    // rest of the workers stay with authenticated work.
    int32_t MaximumUnauthenticatedConnections = 0;
    // Largest request body (bytes) read before authentication (a login's);
    // 0 means the built-in 4,096.
    int32_t MaximumUnauthenticatedBodySize = 0;
    // Sessions one account may hold at once; 0 means the built-in 8.
    int32_t MaximumSessionsPerAccount = 0;
    // "Classic" (also when absent) or "Standard"; see protocol/protocolprofile.h.
    std::string RedfishProtocolProfile;
};

// The process-wide settings record.
extern ServerConfiguration ServerConfig;

// Largest configuration file read.
constexpr size_t kMaxConfigFileSize = 1024 * 1024;

// Reads install path + "RedfishServer/ServerConfiguration.json" into ServerConfig.
// False when the file is there but empty or not a valid configuration: the
// service cannot serve as configured (a missing file leaves every setting 0).
bool readServerConfiguration();

// Applies a configuration text to `cfg` with the file's conversion rules.
// Returns false (leaving `cfg` unchanged) when the text is not a valid object.
bool applyServerConfiguration(std::string_view text, ServerConfiguration& cfg);

// The engine options the configuration sets (name, effective value).
std::vector<std::pair<std::string, std::string>> configuredEngineOptions();

// Effective request body cap in bytes.
size_t maximumRequestBodySize();

// Effective upload cap in bytes.
size_t maximumUploadSize();

// Effective worker count, per-client connection cap and head deadline (ms).
int workerThreadCount();
int connectionsPerClient();
int requestHeadTimeoutMs();
// Effective cap on unauthenticated connections and on their bodies (bytes).
int unauthenticatedConnections();
int unauthenticatedBodySize();
int sessionsPerAccount();

#endif
