// The one request handler, registered on "/redfish".
#ifndef TOLVANE_REDFISHSERVERHANDLER_H
#define TOLVANE_REDFISHSERVERHANDLER_H

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "RedfishPlugin.h"
#include "answer/answer.h"
#include "civetserver.h"
#include "logcontext.h"
#include "plugincall/plugincalls.h"
#include "gate/requestgate.h"
#include "replyheaders.h"
#include "session/basicauth.h"
#include "session/sessionservice.h"
#include "session/sessiontable.h"

// What a method's road to the plug-in does in its own way.
struct PluginRoad {
    enum class FailedWrite { Logged, TracedAndLogged };
    LogContext log;          // the method's unit, function and line
    const char* entryName;   // the plug-in entry point
    const char* missingText; // DEBUG line when the entry point is missing
    const char* outPrefix;   // DEBUG line before the answer's body
    FailedWrite failedWrite; // what a failed body write leaves behind
    std::string pluginUri;   // the URI the plug-in receives
    bool exempt = false;     // readable without a session
    // The server's own document for a route of the given kind (none: the
    // plug-in's), answered instead of a plug-in call once the gate has let
    // the request pass.
    std::function<std::optional<Answer>(RouteKind)> ownDocument = nullptr;
};
using FailedWrite = PluginRoad::FailedWrite;

class RedfishServerHandler;

// The request body, read on first use and kept: "{}" for an empty body.
class RequestBody {
  public:
    RequestBody(RedfishServerHandler& handler, struct mg_connection* conn)
        : handler_(handler), conn_(conn) {}
    const std::string& text();

  private:
    RedfishServerHandler& handler_;
    struct mg_connection* conn_;
    std::string text_;
    bool read_ = false;
};

// One request on its way through the handler: what every method's road
// shares, kept per request. Built at the front door (admit), which learns the
// host name, passes the gate (session or Basic login, privileges) and names
// the caller to the plug-in.
struct RequestContext {
    RequestContext(RedfishServerHandler& handler, struct mg_connection* conn, GateRequest request);
    struct mg_connection* conn;
    const struct mg_request_info* ri;
    GateRequest request;
    PluginCalls calls;
    RequestBody body;
    GateOutcome gate;
};

class RedfishServerHandler : public CivetHandler {
  public:
    RedfishServerHandler(const std::string& hostAddress, RedfishModuleHandle module,
                         int32_t sessionTimeoutSetting);
    ~RedfishServerHandler() override;

    bool handleGet(CivetServer* server, struct mg_connection* conn) override;
    bool handlePost(CivetServer* server, struct mg_connection* conn) override;
    bool handleFilePost(CivetServer* server, struct mg_connection* conn) override;
    bool handleDelete(CivetServer* server, struct mg_connection* conn) override;
    bool handlePatch(CivetServer* server, struct mg_connection* conn) override;
    // The status forms (protocol/standardroad.cpp): where the profile's
    // rules take every method through the standard road they run the plain
    // form above (HEAD as a GET, OPTIONS and PUT answered there); otherwise
    // they leave the status unset, so the plain forms answer as before.
    bool handleGet(CivetServer* server, struct mg_connection* conn, int* status) override;
    bool handlePost(CivetServer* server, struct mg_connection* conn, int* status) override;
    bool handleFilePost(CivetServer* server, struct mg_connection* conn, int* status) override;
    bool handleDelete(CivetServer* server, struct mg_connection* conn, int* status) override;
    bool handlePatch(CivetServer* server, struct mg_connection* conn, int* status) override;
    bool handleHead(CivetServer* server, struct mg_connection* conn, int* status) override;
    bool handleOptions(CivetServer* server, struct mg_connection* conn, int* status) override;
    bool handlePut(CivetServer* server, struct mg_connection* conn, int* status) override;
    using CivetHandler::handleHead;
    using CivetHandler::handleOptions;
    using CivetHandler::handlePut;

    // Common checks (redfishserverhandler.cpp).
    bool isAuthorized(struct mg_connection* conn);
    void learnHostName(struct mg_connection* conn);
    // learnHostName unless a host name is known already.
    void learnHostNameOnce(struct mg_connection* conn);
    std::string knownHostName();

    // Plug-in road (redfishserverhandler.cpp).
    std::string readRequestBody(struct mg_connection* conn);

    // Shared answers (redfishserverhandler.cpp).
    // When the request body was refused before the handler lock (larger than
    // the configured cap, or not received whole in time), answers 413
    // "Payload Too Large" or 400 "Bad Request" (generalErrorAnswer) and
    // returns true; the caller then must not call the plug-in. Returns
    // false, writing nothing, when the body is usable.
    bool answerBodyFailure(struct mg_connection* conn, const char* method, const char* uri);
    // The JSON error {"error":{"code":"Base.1.0.GeneralError","message":
    // "<reason text>"}}, which a standard answer gives as the registry's
    // message for `status`.
    static Answer generalErrorAnswer(int status);
    // The request path with dot segments resolved and escapes decoded, which
    // every URI decision and the plug-in's URI use; "" when the request names
    // no local resource.
    static std::string normalisedUri(const struct mg_request_info* ri);
    // Whether the engine's debug log type asks for trace records of the
    // handler's own documents.
    static bool traceEnabled();

    // The front door of every road to the plug-in: the gate, then the
    // caller named to the plug-in. False when the gate refused (and answered).
    // Without `readsBody` the gate never reads the body (uploads).
    bool admit(RequestContext& context, bool readsBody = true);

    // The road of GET, PATCH and DELETE (pluginroad.cpp): the gate, the
    // plug-in call and the answer. Returns whether the request was answered.
    bool forwardToPlugin(struct mg_connection* conn, const PluginRoad& road);
    // Whether the plug-in takes overlapping calls (asked once, on first use).
    bool pluginCallsMayOverlap();

    // Own documents (getredfishhandler.cpp).
    static void buildVersionDocument(std::string& out);
    static void buildServiceRoot(std::string& out);

    // What the handler keeps across requests; everything else belongs to
    // the request. The host name is learned from the first Host header.
    std::string hostName;
    RedfishModuleHandle pluginModule = nullptr;
    bool hostNameKnown = false;
    int32_t sessionTimeout = 0;

  private:
    std::once_flag overlapAsked_;
    bool pluginCallsMayOverlap_ = false;
    std::mutex hostMutex_; // guards hostName and hostNameKnown

    SessionService sessions_;
};

#endif
