// The one road of GET, PATCH and DELETE to the resource plug-in: the gate,
// the entry point, the body, the trace records, the call, the reply
// conversion and the answer.
#include <ctime>
#include <memory>
#include <optional>

#include "answer/answerwriter.h"
#include "compactreply.h"
#include "gate/redfisherrors.h"
#include "gate/requestgate.h"
#include "gate/requestpath.h"
#include "logcontext.h"
#include "logging/audit.h"
#include "plugincall/resourcelock.h"
#include "protocol/protocolprofile.h"
#include "redfishserverhandler.h"
#include "redfishtrace.h"
#include "session/sessionresources.h"
#include "session/sessionservice.h"

namespace {
const char* const kSendFailed = " Failed to send the response to client";

// Schema documents in CSDL are XML; the standard profile says so.
const char* answerContentType(const std::string& path) {
    const std::string suffix = ".xml";
    const bool xml = path.size() > suffix.size() &&
                     path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0 &&
                     path.rfind("/redfish/v1/JsonSchemas/", 0) == 0;
    return xml && profileRules().xmlSchemaFiles ? "application/xml" : "application/json";
}

// A change sent with If-Match goes ahead only while the resource is what the
// client last read: its ETag is the tag of the body a GET answers now. The
// plug-in calls are held from this read through the change, so for a plug-in
// taking one call at a time nothing can come between.
bool changeIsStale(struct mg_connection* conn, const char* method, const std::string& pluginUri,
                   RouteKind kind, PluginCalls& calls) {
    const char* ifMatch = mg_get_header(conn, "If-Match");
    if (!ifMatch || !profileRules().checksIfMatch ||
        (std::string(method) != "PATCH" && std::string(method) != "DELETE"))
        return false;
    calls.hold();
    std::string current;
    std::string reply = calls.read(pluginUri);
    if (serverChangesSessionService(method, kind)) // tagged as a GET shows it
        reply = sessionResourceReply("GET", pluginUri, kind, reply, std::nullopt, 0);
    const int32_t status = convertPluginReply(reply.c_str(), current);
    return !entityTagListNames(ifMatch, status == 200 ? resourceEntityTag(current) : std::string());
}
} // namespace

bool RedfishServerHandler::forwardToPlugin(struct mg_connection* conn, const PluginRoad& road) {
    const LogContext& log = road.log;
    const struct mg_request_info* ri = mg_get_request_info(conn);
    const char* method = ri->request_method ? ri->request_method : "";
    const char* requestUri = ri->request_uri ? ri->request_uri : "";

    GateRequest admitted;
    admitted.method = method;
    admitted.path = normalisedUri(ri);
    admitted.exempt = road.exempt;
    RequestContext context(*this, conn, std::move(admitted));
    if (!admit(context)) {
        REDFISH_LOG_IN(log, LOG_LEVEL_DEBUG, "Exit");
        return true;
    }
    PluginCalls& calls = context.calls;
    const GateRequest& request = context.request;
    const GateOutcome& gate = context.gate;
    std::optional<Answer> own =
        road.ownDocument ? road.ownDocument(request.route.kind) : std::nullopt;
    if (own) {
        const int status = own->status;
        const std::string body = own->body;
        writeRequestTrace(method, requestUri, "{}");
        if (sendAnswer(conn, std::move(*own)) >= 0)
            writeResponseTrace(method, status, body.c_str());
        REDFISH_LOG_IN(log, LOG_LEVEL_DEBUG, "Exit");
        return true;
    }

    CommandHandlerFn entry = calls.entry(road.entryName);
    if (!entry) {
        sendAnswer(conn, jsonAnswer(500, ""));
        REDFISH_LOG_IN(log, LOG_LEVEL_DEBUG, "%s", road.missingText);
        writeResponseTrace(method, 500, "Internal Error");
        REDFISH_LOG_IN(log, LOG_LEVEL_DEBUG, "Exit");
        return true;
    }

    if (answerBodyFailure(conn, method, requestUri)) {
        REDFISH_LOG_IN(log, LOG_LEVEL_DEBUG, "Exit");
        return true;
    }
    const std::string& body = context.body.text();
    writeRequestTrace(method, requestUri, body.c_str());

    // A change and the tag check before it are one step for the resource.
    std::unique_ptr<ResourceChangeLock> changing;
    if (request.method == "PATCH" || request.method == "DELETE")
        changing = std::make_unique<ResourceChangeLock>(road.pluginUri);
    const RouteKind kind = request.route.kind;
    if (changeIsStale(conn, method, road.pluginUri, kind, calls)) {
        calls.release();
        writeErrorAnswer(conn, 412, redfisherror::preconditionFailed());
        writeResponseTrace(method, 412, "Precondition Failed");
        REDFISH_LOG_IN(log, LOG_LEVEL_DEBUG, "Exit");
        return true;
    }

    // The call and the session changes it causes are one step; the answer
    // is written after it, so a slow reader holds up no other request.
    calls.hold();
    const int64_t now = static_cast<int64_t>(std::time(nullptr));
    const std::optional<SessionRecord> heldSession =
        kind == RouteKind::SessionMember ? sessionAt(request.path, now) : std::nullopt;
    std::string pluginReply;
    if (serverChangesSessionService(request.method, kind))
        pluginReply = changeSessionService(body, calls.read(road.pluginUri));
    else
        calls.call(entry, road.pluginUri, body, pluginReply);
    pluginReply =
        sessionResourceReply(request.method, request.path, kind, pluginReply, heldSession, now);
    REDFISH_LOG_IN(log, LOG_LEVEL_DEBUG, " Plugin Response:  %s", pluginReply.c_str());

    std::string out;
    const int32_t httpStatus = convertPluginReply(pluginReply.c_str(), out);
    REDFISH_LOG_IN(log, LOG_LEVEL_DEBUG, "%s%s", road.outPrefix, out.c_str());
    SessionService::afterAccountChange(request, gate, httpStatus, body);
    calls.release();
    auditPluginAnswer(method, request.path, kind, ri->remote_addr,
                      gate.session ? gate.session->userName : "", gate.accountUser, httpStatus,
                      body);

    Answer answer;
    answer.status = httpStatus;
    answer.headers = pluginReplyHeaders(pluginReply);
    answer.headers.emplace(answer.headers.begin(), "Content-Type", answerContentType(request.path));
    answer.body = out;
    if (sendAnswer(conn, std::move(answer)) < 0) {
        if (road.failedWrite == FailedWrite::TracedAndLogged)
            writeResponseTrace(method, httpStatus, kSendFailed);
        REDFISH_LOG_IN(log, LOG_LEVEL_ERROR, "%s", kSendFailed);
        REDFISH_LOG_IN(log, LOG_LEVEL_DEBUG, "Exit");
        return true;
    }
    writeResponseTrace(method, httpStatus, out.c_str());
    REDFISH_LOG_IN(log, LOG_LEVEL_DEBUG, "Exit");
    return true;
}
