#include "loadoptions.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace bench {

namespace {

const char* const kKindNames[kRequestKindCount] = {"root", "get", "login", "patch", "upload"};

bool parseInt(const std::string& text, long long min, long long max, long long& out) {
    if (text.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    long long value = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || value < min || value > max)
        return false;
    out = value;
    return true;
}

bool parseSeconds(const std::string& text, double& out) {
    if (text.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    double value = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !(value >= 0.0) || value > 86400.0)
        return false;
    out = value;
    return true;
}

std::vector<std::string> splitList(const std::string& text) {
    std::vector<std::string> items;
    std::string item;
    std::istringstream in(text);
    while (std::getline(in, item, ','))
        items.push_back(item);
    return items;
}

// "root=3,get=1" or "root,get" (weight 1).
bool parseMix(const std::string& text, std::vector<std::pair<RequestKind, int>>& mix,
              std::string& error) {
    std::vector<std::pair<RequestKind, int>> parsed;
    for (const std::string& item : splitList(text)) {
        std::string name = item;
        long long weight = 1;
        size_t eq = item.find('=');
        if (eq != std::string::npos) {
            name = item.substr(0, eq);
            if (!parseInt(item.substr(eq + 1), 0, 1000, weight)) {
                error = "bad weight in --mix item \"" + item + "\" (0 to 1000)";
                return false;
            }
        }
        RequestKind kind;
        if (!parseRequestKind(name, kind)) {
            error = "unknown request kind \"" + name + "\" in --mix";
            return false;
        }
        if (weight > 0)
            parsed.emplace_back(kind, static_cast<int>(weight));
    }
    if (parsed.empty()) {
        error = "--mix names no request kind with a weight above 0";
        return false;
    }
    mix = parsed;
    return true;
}

// "patch=4,get=2xx": expected status class per kind.
bool parseExpect(const std::string& text, std::array<int, kRequestKindCount>& expect,
                 std::string& error) {
    for (const std::string& item : splitList(text)) {
        size_t eq = item.find('=');
        RequestKind kind;
        if (eq == std::string::npos || !parseRequestKind(item.substr(0, eq), kind)) {
            error = "bad --expect item \"" + item + "\" (KIND=CLASS, e.g. patch=4xx)";
            return false;
        }
        std::string cls = item.substr(eq + 1);
        if (cls.size() == 3 && cls.compare(1, 2, "xx") == 0)
            cls = cls.substr(0, 1);
        long long value = 0;
        if (!parseInt(cls, 1, 5, value)) {
            error = "bad status class in --expect item \"" + item + "\" (1 to 5)";
            return false;
        }
        expect[static_cast<int>(kind)] = static_cast<int>(value);
    }
    return true;
}

bool readFirstLine(const std::string& path, std::string& line) {
    std::ifstream in(path);
    if (!in)
        return false;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n' || line.back() == ' '))
        line.pop_back();
    return true;
}

} // namespace

const char* requestKindName(RequestKind kind) {
    return kKindNames[static_cast<int>(kind)];
}

bool parseRequestKind(const std::string& name, RequestKind& kind) {
    for (int i = 0; i < kRequestKindCount; ++i) {
        if (name == kKindNames[i]) {
            kind = static_cast<RequestKind>(i);
            return true;
        }
    }
    return false;
}

bool kindNeedsToken(RequestKind kind) {
    return kind == RequestKind::PluginGet || kind == RequestKind::Patch ||
           kind == RequestKind::Upload;
}

std::string loadHelpText() {
    return R"(usage: tolvaneload --port N [options]

Load and fault tool for the Redfish server. Every client (one thread each)
repeats: connect, (TLS handshake), send one request, read until the server
closes, check the response. With --keep-alive (plain HTTP) each client keeps
its connection and reads each answer to its Content-Length.

Target:
  --host ADDR            numeric IPv4 or IPv6 address (default 127.0.0.1)
  --port N               port (required)
  --tls                  HTTPS; a full handshake on every request by default
  --keep-alive           plain HTTP: keep each client's connection open
  --resume               allow TLS session resumption (tickets or session ids)
  --no-tickets           with --resume: session ids from the server's cache only
                         (TLS 1.2; TLS 1.3 resumes by tickets alone)
  --tls-version V        pin TLS 1.2 or 1.3 (default: the highest both sides offer)

Load:
  --clients N            concurrent clients (default 16)
  --duration S           measured seconds (default 3); ignored with --requests
  --requests N           stop after N measured requests in all
  --warmup S             unmeasured seconds before measuring (default 0)
  --timeout-ms N         limit for each connect, handshake, send and read (default 10000)
  --mix LIST             request kinds with weights, e.g. root=2,get=1 (default root)
                         kinds: root   GET of the service root
                                get    GET of a plug-in resource, with X-Auth-Token
                                login  POST of user name and password to the sessions
                                patch  PATCH with a small JSON body, with X-Auth-Token
                                upload multipart POST of a file to an upload action
  --expect LIST          expected status class per kind, e.g. patch=4xx (default 2xx)

Requests:
  --root-uri URI         (default /redfish/v1)
  --get-uri URI          (default /redfish/v1/Systems)
  --login-uri URI        (default /redfish/v1/SessionService/Sessions)
  --patch-uri URI        (default /redfish/v1/Systems/1)
  --patch-body JSON      (default {"AssetTag":"bench"})
  --upload-uri URI       (default .../Actions/Oem/Veltrano.InstallOrUpgradeFirmware)
  --upload-size BYTES    size of the uploaded file (default 4096)
  --user NAME            login user name (default admin)
  --password TEXT        login password
  --password-file PATH   read the password from the first line of PATH
  --token TEXT           use this X-Auth-Token; otherwise, when the mix has get,
                         patch or upload, one login before the run obtains it

Report:
  --server-pid PID       report the server's peak RSS (VmHWM) and CPU time per
                         request (utime+stime over the measured window)
  --label TEXT           name of the run in the report
  --kv                   also print one machine-readable line starting "RESULT "
  --help                 this text

Counted per request: successes (the expected status class with a complete
status line and header block), and errors by kind: connect, handshake, send,
read (error or time-out), empty (closed without a byte), malformed (status
line, header block or Content-Length wrong), status (unexpected status class).
Requests/s and latency (connect and handshake included) cover successes: with
--duration those that end within the measured window, with --requests those
started once measuring began. Errors are counted until the last client ends.
Exit status: 0 when the run finished, 1 when any request failed, 2 on a usage
or set-up error.
)";
}

ParseOutcome parseLoadOptions(int argc, const char* const* argv, LoadOptions& options) {
    ParseOutcome outcome;
    auto fail = [&outcome](const std::string& message) {
        outcome.ok = false;
        outcome.error = message;
        return outcome;
    };
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        // Flags without a value.
        if (arg == "--help" || arg == "-h") {
            outcome.help = true;
            return outcome;
        }
        if (arg == "--tls") {
            options.tls = true;
            continue;
        }
        if (arg == "--keep-alive") {
            options.keepAlive = true;
            continue;
        }
        if (arg == "--resume") {
            options.resumeSessions = true;
            continue;
        }
        if (arg == "--no-tickets") {
            options.tickets = false;
            continue;
        }
        if (arg == "--kv") {
            options.keyValue = true;
            continue;
        }
        // Flags with a value: "--name value" or "--name=value".
        std::string value;
        size_t eq = arg.find('=');
        if (arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
        } else if (i + 1 < argc) {
            value = argv[++i];
        } else {
            return fail("option " + arg + " needs a value (or it is unknown; see --help)");
        }
        long long number = 0;
        if (arg == "--host") {
            options.host = value;
        } else if (arg == "--port") {
            if (!parseInt(value, 1, 65535, number))
                return fail("bad --port \"" + value + "\" (1 to 65535)");
            options.port = static_cast<int>(number);
        } else if (arg == "--tls-version") {
            if (value != "1.2" && value != "1.3")
                return fail("bad --tls-version \"" + value + "\" (1.2 or 1.3)");
            options.tlsVersion = value;
        } else if (arg == "--clients") {
            if (!parseInt(value, 1, 4096, number))
                return fail("bad --clients \"" + value + "\" (1 to 4096)");
            options.clients = static_cast<int>(number);
        } else if (arg == "--duration") {
            if (!parseSeconds(value, options.durationSeconds) || options.durationSeconds <= 0)
                return fail("bad --duration \"" + value + "\" (seconds above 0)");
        } else if (arg == "--requests") {
            if (!parseInt(value, 1, 1000000000000LL, number))
                return fail("bad --requests \"" + value + "\"");
            options.requestCount = number;
        } else if (arg == "--warmup") {
            if (!parseSeconds(value, options.warmupSeconds))
                return fail("bad --warmup \"" + value + "\" (seconds)");
        } else if (arg == "--timeout-ms") {
            if (!parseInt(value, 1, 3600000, number))
                return fail("bad --timeout-ms \"" + value + "\"");
            options.timeoutMs = static_cast<int>(number);
        } else if (arg == "--mix") {
            if (!parseMix(value, options.mix, outcome.error))
                return fail(outcome.error);
        } else if (arg == "--expect") {
            if (!parseExpect(value, options.expectClass, outcome.error))
                return fail(outcome.error);
        } else if (arg == "--root-uri") {
            options.rootUri = value;
        } else if (arg == "--get-uri") {
            options.getUri = value;
        } else if (arg == "--login-uri") {
            options.loginUri = value;
        } else if (arg == "--patch-uri") {
            options.patchUri = value;
        } else if (arg == "--patch-body") {
            options.patchBody = value;
        } else if (arg == "--upload-uri") {
            options.uploadUri = value;
        } else if (arg == "--upload-size") {
            if (!parseInt(value, 0, 1LL << 30, number))
                return fail("bad --upload-size \"" + value + "\" (0 to 1 GiB)");
            options.uploadSize = static_cast<size_t>(number);
        } else if (arg == "--user") {
            options.user = value;
        } else if (arg == "--password") {
            options.password = value;
        } else if (arg == "--password-file") {
            if (!readFirstLine(value, options.password))
                return fail("cannot read --password-file \"" + value + "\"");
        } else if (arg == "--token") {
            options.token = value;
        } else if (arg == "--server-pid") {
            if (!parseInt(value, 1, 1LL << 22, number))
                return fail("bad --server-pid \"" + value + "\"");
            options.serverPid = static_cast<pid_t>(number);
        } else if (arg == "--label") {
            options.label = value;
        } else {
            return fail("unknown option " + arg + " (see --help)");
        }
    }
    if (options.port == 0)
        return fail("--port is required (see --help)");
    if (options.keepAlive && options.tls)
        return fail("--keep-alive is for plain HTTP only");
    for (const std::string* uri : {&options.rootUri, &options.getUri, &options.loginUri,
                                   &options.patchUri, &options.uploadUri}) {
        if (uri->empty() || (*uri)[0] != '/' || uri->find_first_of(" \r\n") != std::string::npos)
            return fail("request URI \"" + *uri + "\" must start with / and hold no blanks");
    }
    return outcome;
}

} // namespace bench
