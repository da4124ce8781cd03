// The one road of GET, PATCH and DELETE to the resource plug-in: the gate,
// the entry point, the body, the trace records, the call, the reply
// conversion and the answer.
#include "gate/requestgate.h"
#include "logcontext.h"
#include "redfishserver/pluginhost.h"
#include "redfishserverhandler.h"
#include "redfishtrace.h"
#include "responseheadtext.h"

namespace {
const char* const kSendFailed = " Failed to send the response to client";
}

std::string RedfishServerHandler::readPluginResource(const std::string& uri) {
    auto get = reinterpret_cast<CommandHandlerFn>(pluginSymbol(pluginModule, REDFISH_ENTRY_GET));
    std::string reply;
    if (get)
        get(uri.c_str(), "{}", reply);
    return reply;
}

bool RedfishServerHandler::forwardToPlugin(struct mg_connection* conn, const PluginRoad& road) {
    const LogContext& log = road.log;
    const struct mg_request_info* ri = mg_get_request_info(conn);
    const char* method = ri->request_method ? ri->request_method : "";
    const char* requestUri = ri->request_uri ? ri->request_uri : "";

    if (!hostNameKnown)
        learnHostName(conn);

    RequestBody requestBody(*this, conn);
    GateRequest request;
    request.method = method;
    request.path = normalisedUri(ri);
    request.exempt = road.exempt;
    const GateOutcome gate = passGate(
        conn, request, [this](const std::string& uri) { return readPluginResource(uri); },
        [&]() -> const std::string& { return requestBody.text(); });
    if (!gate.pass) {
        REDFISH_LOG_IN(log, LOG_LEVEL_DEBUG, "Exit");
        return true;
    }

    CommandHandlerFn entry =
        reinterpret_cast<CommandHandlerFn>(pluginSymbol(pluginModule, road.entryName));
    *road.field = entry;
    if (!entry) {
        writeResponseHeader(conn, 500, "application/json");
        REDFISH_LOG_IN(log, LOG_LEVEL_DEBUG, "%s", road.missingText);
        writeResponseTrace(method, 500, "Internal Error");
        REDFISH_LOG_IN(log, LOG_LEVEL_DEBUG, "Exit");
        return true; // the status line is out: our answer, not the library's
    }

    if (answerBodyFailure(conn, method, requestUri)) {
        REDFISH_LOG_IN(log, LOG_LEVEL_DEBUG, "Exit");
        return true;
    }
    const std::string& body = requestBody.text();
    writeRequestTrace(method, requestUri, body.c_str());

    std::string pluginReply;
    entry(road.pluginUri.c_str(), body.c_str(), pluginReply);
    REDFISH_LOG_IN(log, LOG_LEVEL_DEBUG, " Plugin Response:  %s", pluginReply.c_str());

    std::string out;
    processPluginReply(pluginReply.c_str(), out);
    REDFISH_LOG_IN(log, LOG_LEVEL_DEBUG, "%s%s", road.outPrefix, out.c_str());
    applySessionEffects(request, gate, httpStatus, body);

    // Head and body in one write: one system call and one packet fewer.
    std::string answer;
    answer.reserve(96 + out.size());
    appendResponseHead(answer, httpStatus, "application/json");
    answer += out;
    if (writeBody(conn, answer) < 0) {
        if (road.failedWrite == FailedWrite::TracedAndLogged)
            writeResponseTrace(method, httpStatus, kSendFailed);
        REDFISH_LOG_IN(log, LOG_LEVEL_ERROR, "%s", kSendFailed);
        REDFISH_LOG_IN(log, LOG_LEVEL_DEBUG, "Exit");
        return true; // the head was written, so the request is ours
    }
    writeResponseTrace(method, httpStatus, out.c_str());
    REDFISH_LOG_IN(log, LOG_LEVEL_DEBUG, "Exit");
    return true;
}
