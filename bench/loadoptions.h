// Command-line options of the load tool and the request kinds it can send.
#ifndef TOLVANE_BENCH_LOADOPTIONS_H
#define TOLVANE_BENCH_LOADOPTIONS_H

#include <sys/types.h>

#include <array>
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace bench {

enum class RequestKind { ServiceRoot, PluginGet, Login, Patch, Upload };
constexpr int kRequestKindCount = 5;

// Short names used on the command line and in reports: root, get, login,
// patch, upload.
const char* requestKindName(RequestKind kind);
bool parseRequestKind(const std::string& name, RequestKind& kind);
// GET of a plug-in resource, PATCH and upload carry the session token.
bool kindNeedsToken(RequestKind kind);

struct LoadOptions {
    std::string host = "127.0.0.1";
    int port = 0;
    bool tls = false;
    bool keepAlive = false;      // plain HTTP: one connection per client, kept open
    bool resumeSessions = false; // TLS session resumption; off: a full handshake every request
    bool tickets = true;         // with resumeSessions: false resumes by session id only
    std::string tlsVersion;      // "", "1.2" or "1.3": pin the protocol version
    int clients = 16;
    double durationSeconds = 3.0;
    long long requestCount = 0; // > 0: stop after this many measured requests
    double warmupSeconds = 0.0;
    int timeoutMs = 10000; // per connect, handshake, send and read step
    // Kinds with weights; each client cycles through them in proportion.
    std::vector<std::pair<RequestKind, int>> mix = {{RequestKind::ServiceRoot, 1}};
    std::string rootUri = "/redfish/v1";
    std::string getUri = "/redfish/v1/Systems";
    std::string loginUri = "/redfish/v1/SessionService/Sessions";
    std::string patchUri = "/redfish/v1/Systems/1";
    std::string patchBody = "{\"AssetTag\":\"bench\"}";
    std::string uploadUri =
        "/redfish/v1/UpdateService/Actions/Oem/Veltrano.InstallOrUpgradeFirmware";
    size_t uploadSize = 4096;
    std::string user = "admin";
    std::string password;
    std::string token; // given: no login before the run
    // Expected status class (1 to 5) per kind, indexed by RequestKind.
    std::array<int, kRequestKindCount> expectClass = {2, 2, 2, 2, 2};
    pid_t serverPid = 0; // 0: no server figures
    bool keyValue = false;
    std::string label;
};

struct ParseOutcome {
    bool ok = true;
    bool help = false;
    std::string error;
};

// Parses argv[1..argc-1] into `options` (which holds the defaults on entry).
ParseOutcome parseLoadOptions(int argc, const char* const* argv, LoadOptions& options);
std::string loadHelpText();

} // namespace bench

#endif
