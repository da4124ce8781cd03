// The server routine: start-up, run loop and shutdown.
#include "serverroutine.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>

#include "civetserver.h"
#include "civetweb_ext.h"
#include "httpoptions.h"
#include "installpaths.h"
#include "Logger.h"
#include "loglines.h"
#include "pluginhost.h"
#include "protocol/protocolprofile.h"
#include "protocol/serviceroot.h"
#include "protocol/standardroad.h"
#include "redfishserverhandler.h"
#include "serverconfig.h"
#include "session/sessionresources.h"
#include "startupfiles.h"
#include "stoprequest.h"
#include "tlsidentity.h"

std::atomic<bool> gStopRequested{false};

namespace {

// The start-up log lines name the routine's historical source file and line,
// so they read the same as in earlier releases and log filters keep working.
#define ROUTINE_LOG(linetext, level, msg)                                                          \
    do {                                                                                           \
        if (gLogFunction)                                                                          \
            gLogFunction("%s:%s:%s:%s()::[%s]" msg, "REDFISHSERVER", "redfishserver.cpp",          \
                         linetext, "mainRedfishServer", LogLevelName(level));                      \
    } while (0)

// Never destroyed: the signal watcher thread may still request a stop while
// the process runs its exit handlers.
std::mutex& gStopMutex = *new std::mutex;
std::condition_variable& gStopSignal = *new std::condition_variable;
bool gStopPending = false;

// Sleeps up to `timeout`; true as soon as a stop has been asked for.
bool waitForStopRequest(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(gStopMutex);
    return gStopSignal.wait_for(lock, timeout, [] { return gStopPending; });
}

bool isUnsetAddress(const std::string& address) {
    static const char kAny[] = "0.0.0.0";
    if (address.size() != sizeof(kAny) - 1)
        return false;
    for (size_t i = 0; i < address.size(); ++i) {
        char c = address[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != kAny[i])
            return false;
    }
    return true;
}

// Ends a failed start. The HTTP server, when it already runs, is stopped
// first so that no worker thread outlives the process's static objects.
[[noreturn]] void endStart(std::unique_ptr<CivetServer>& server) {
    if (server)
        server->close();
    std::fflush(stdout);
    std::exit(1);
}

// The certificate (over TLS) and an empty uploads directory, before the
// server listens. False after a message in the output log.
bool prepareInstallTree() {
    std::string message;
    const bool certificateReady =
        !ServerConfig.CommunicationProtocolHttps || prepareServerCertificate(message);
    if (!message.empty())
        WriteOutLog("%s", message.c_str());
    if (!certificateReady)
        return false;
    if (emptyUploadsDirectory(message))
        return true;
    WriteOutLog("%s", message.c_str());
    return false;
}

// How long a stop waits for the requests under way; uploads still arriving
// are cut off at once (CivetServer::close).
constexpr int kStopGraceMs = 10000;

// An authenticated request's body may take as long as the library's own
// request time-out, but never less than ten seconds; before authentication
// the head deadline bounds it instead (connectionlimits.h).
int prefetchDeadlineMs() {
    return std::max<int>(ServerConfig.SessionTimeout, 10000);
}

// The engine's TLS context: a bounded session cache and, where the
// certificate service runs, the certificate each new handshake presents.
int prepareTlsContext(void* sslContext, void* userData) {
    configureTlsSessions(sslContext, userData);
    return profileRules().certificateService ? installTlsIdentityCallback(sslContext, userData)
                                             : 0;
}

} // namespace

void requestServerStop() {
    {
        std::lock_guard<std::mutex> lock(gStopMutex);
        gStopPending = true;
    }
    gStopSignal.notify_all();
}

bool serverStopPending() {
    std::lock_guard<std::mutex> lock(gStopMutex);
    return gStopPending;
}

std::string chooseHostAddress() {
    if (ServerConfig.CommunicationProtocolHttps &&
        !isUnsetAddress(ServerConfig.CommunicationHostAddressHttps))
        return ServerConfig.CommunicationHostAddressHttps;
    if (ServerConfig.CommunicationProtocolHttp &&
        !isUnsetAddress(ServerConfig.CommunicationHostAddressHttp))
        return ServerConfig.CommunicationHostAddressHttp;
    return "127.0.0.1";
}

void mainRedfishServer() {
    std::fill(std::begin(gInstallPath), std::end(gInstallPath), '\0');
    readInstallPath(gInstallPath);
    readLogDirectory(gLogDirectory);
    composeOutLogPath();
    prepareLogDirectory();
    const bool configured = readServerConfiguration();
    Logger::Configure();

    std::unique_ptr<CivetServer> server;
    if (!configured) {
        // Serving anyway would listen on a port nobody chose.
        WriteOutLog("ServerConfiguration.json cannot be used: correct it (or restore it from "
                    "the package) and start again\n");
        endStart(server);
    }
    if (!initHttpLibrary())
        endStart(server);
    if (!prepareInstallTree())
        endStart(server);

    if (!loadLogServicePlugin()) {
        // Fatal like every other start-up failure: a service manager must see
        // the process end instead of a service that serves nothing.
        WriteOutLog("Failed to initialize the log service plugin ............\n");
        endStart(server);
    }

    WriteOutLog("Starting Redfish Server....\n");
    try {
        // The standard profile answers the engine's own errors (unparsable
        // requests, unknown paths and methods) as Redfish errors too.
        CivetCallbacks callbacks;
        callbacks.init_ssl = prepareTlsContext;
        if (profileRules().engineErrorsAsRedfish) {
            callbacks.http_error = answerEngineError;
            answerUnknownMethodsNotImplemented();
        }
        server.reset(new CivetServer(gServerOptions, &callbacks));
    } catch (const std::exception& e) {
        std::string text = e.what();
        if (text.empty() || text.back() != '\n')
            text += '\n';
        WriteOutLog("%s", text.c_str());
        endStart(server);
    }
    mg_set_debug_log_type(ServerConfig.RedfishDebugMask);

    // Made before the plug-in loads: its manager carries the same UUID.
    if (profileRules().odataDocuments)
        keptServiceUuid(serviceUuidPath());
    if (loadWebServerPlugin() != true) {
        ROUTINE_LOG("502", LOG_LEVEL_DEBUG, "webserver module loading failed  !!!");
        ROUTINE_LOG("503", LOG_LEVEL_DEBUG, "Exit");
        // The output log is where an administrator looks first.
        WriteOutLog("%s\n", webServerPluginProblem().c_str());
        endStart(server);
    }
    // Only now: "started" means the service can serve.
    WriteOutLog("Redfish server started : https://X.X.X.X:%s%s\n", gListeningPortText, "/redfish");
    ROUTINE_LOG("488", LOG_LEVEL_TRACE, "Call trace");

    // A standard service ends idle sessions; the classic one only after their lifetime.
    if (profileRules().idleSessionTimeout) {
        const std::string problem = loadSessionTimeout(serverDirectory() + "SessionService.json");
        if (!problem.empty())
            WriteOutLog("%s", problem.c_str());
    }
    std::string hostAddress = chooseHostAddress();
    auto handler = std::make_unique<RedfishServerHandler>(hostAddress, gHandleForInstanceOfLibrary,
                                                          ServerConfig.SessionTimeout);
    // Non-upload bodies are received outside the process-wide handler lock,
    // on the handler's first ask after the gate, so a slow client cannot hold
    // up every other request and nobody's body is awaited unasked.
    server->setBodyPrefetch(maximumRequestBodySize(), prefetchDeadlineMs());
    // The handler takes the process-wide lock itself, around plug-in calls only.
    server->addConcurrentHandler("/redfish", handler.get());

    while (!gStopRequested.load(std::memory_order_acquire)) {
        std::fflush(stdout);
        if (waitForStopRequest(std::chrono::milliseconds(1000))) {
            // Closing lets the calls under way finish and be answered, closes
            // later requests without an answer, then stops the library's
            // workers, so the plug-in is shut down only after the last request.
            server->close(kStopGraceMs);
            unloadWebServerPlugin();
        }
    }

    WriteOutLog("Exit!\n");
    server.reset();
    handler.reset();
}
