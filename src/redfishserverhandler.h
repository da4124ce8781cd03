// The one request handler, registered on "/redfish".
#ifndef TOLVANE_REDFISHSERVERHANDLER_H
#define TOLVANE_REDFISHSERVERHANDLER_H

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "RedfishPlugin.h"
#include "answer/answer.h"
#include "civetserver.h"
#include "logcontext.h"
#include "plugincall/plugincalls.h"
#include "replyheaders.h"
#include "session/basicauth.h"
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
    // The standard profile's road (protocol/standardroad.cpp): each runs the
    // plain form above with its answer captured and sends that through the
    // standard answer writer. In the classic profile they leave the status
    // unset, so the plain forms answer exactly as before.
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
    // The reply envelope: the body text into `body`, the status returned.
    static int32_t convertPluginReply(const char* reply, std::string& body);
    static const char* getStatusText(int status);

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
    // 401 with the body "Unauthorized user".
    static void answerUnauthorized(struct mg_connection* conn);
    // A login's 201: the session's Location, its token and cookie, the body
    // still to come.
    Answer loginAnswer(const std::string& token, const std::string& location, bool tls) const;
    // The request path with dot segments resolved and escapes decoded, which
    // every URI decision and the plug-in's URI use; "" when the request names
    // no local resource.
    static std::string normalisedUri(const struct mg_request_info* ri);
    // Whether the engine's debug log type asks for trace records of the
    // handler's own documents.
    static bool traceEnabled();

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

    // Stores the session of a successful login unless the role rules refuse
    // it (RoleRefused in the standard profile); when the server refuses it
    // the plug-in's session is ended, as are the sessions evicted to make room.
    AddSessionResult openSession(SessionRecord record, SessionAdmission admission,
                                 PluginCalls& calls);
    // Ends the plug-in's session at `location` (its answer does not matter).
    static void endPluginSession(PluginCalls& calls, const std::string& location);
    // The privileges of a role, from the plug-in's role document when it
    // serves one, else those of the standard role of that name.
    PrivilegeSet rolePrivileges(const std::string& roleId, PluginCalls& calls);
    // Checks Basic credentials with a login at the plug-in that leaves no
    // session behind (postredfishhandler.cpp); verdicts are cached briefly.
    std::optional<SessionRecord> verifyBasicLogin(PluginCalls& calls, const std::string& address,
                                                  const BasicCredentials& credentials);
    // Login (postredfishhandler.cpp).
    bool handleLogin(struct mg_connection* conn, const struct mg_request_info* ri,
                     const std::string& pluginUri, const std::string& body, PluginCalls& calls);
};

#endif
