// PATCH: every request authorised and forwarded to the resource plug-in.
#include "redfishserverhandler.h"

#include "loglines.h"
#include "redfishserver/pluginhost.h"
#include "redfishtrace.h"
#include "resourceuri.h"

namespace {
const char* const kFn = "RedfishServerHandler::handlePatch";
}

bool RedfishServerHandler::handlePatch(CivetServer* server, struct mg_connection* conn) {
    REDFISH_LOG(kFn, LOG_LEVEL_DEBUG, "Entry");
    if (!server || !conn) {
        REDFISH_LOG(kFn, LOG_LEVEL_ERROR, "Server and mg_connection object is NULL");
        REDFISH_LOG(kFn, LOG_LEVEL_DEBUG, "Exit");
        return false;
    }
    const struct mg_request_info* ri = mg_get_request_info(conn);
    if (!ri) {
        REDFISH_LOG(kFn, LOG_LEVEL_ERROR, "mg_request_info is NULL");
        REDFISH_LOG(kFn, LOG_LEVEL_DEBUG, "Exit");
        return false;
    }
    const char* method = ri->request_method ? ri->request_method : "";
    const char* requestUri = ri->request_uri ? ri->request_uri : "";
    const std::string resource = resourceUri(normalisedUri(ri));

    REDFISH_LOG(kFn, LOG_LEVEL_DEBUG, "HTTP PATCH request received for URI = %s\n", requestUri);
    REDFISH_LOG(kFn, LOG_LEVEL_DEBUG, "Method = %s \n", method);

    if (!pluginModule) {
        REDFISH_LOG(kFn, LOG_LEVEL_ERROR, "Redfish Server handler is NULL");
        REDFISH_LOG(kFn, LOG_LEVEL_DEBUG, "Exit");
        return false;
    }
    if (!hostNameKnown)
        learnHostName(conn);
    if (!isAuthorized(conn)) {
        answerUnauthorized(conn);
        REDFISH_LOG(kFn, LOG_LEVEL_DEBUG, "Exit");
        return true;
    }

    patchCommandHandler =
        reinterpret_cast<CommandHandlerFn>(pluginSymbol(pluginModule, REDFISH_ENTRY_PATCH));
    if (!patchCommandHandler) {
        writeResponseHeader(conn, 500, "application/json");
        REDFISH_LOG(kFn, LOG_LEVEL_DEBUG, " PATCH command handler is NULL");
        writeResponseTrace(method, 500, "Internal Error");
        REDFISH_LOG(kFn, LOG_LEVEL_DEBUG, "Exit");
        return true; // the status line is out: our answer, not the library's
    }

    if (answerBodyFailure(conn, method, requestUri)) {
        REDFISH_LOG(kFn, LOG_LEVEL_DEBUG, "Exit");
        return true;
    }
    std::string body = readRequestBody(conn);
    if (body.empty())
        body = "{}";
    writeRequestTrace(method, requestUri, body.c_str());

    std::string pluginReply;
    patchCommandHandler(resource.c_str(), body.c_str(), pluginReply);
    REDFISH_LOG(kFn, LOG_LEVEL_DEBUG, " Plugin Response:  %s", pluginReply.c_str());

    std::string out;
    processPluginReply(pluginReply.c_str(), out);
    REDFISH_LOG(kFn, LOG_LEVEL_DEBUG, " Response OUT : %s", out.c_str());

    writeResponseHeader(conn, httpStatus, "application/json");
    if (writeBody(conn, out) < 0) {
        REDFISH_LOG(kFn, LOG_LEVEL_ERROR, " Failed to send the response to client");
        REDFISH_LOG(kFn, LOG_LEVEL_DEBUG, "Exit");
        return true; // the head was written, so the request is ours
    }
    writeResponseTrace(method, httpStatus, out.c_str());
    REDFISH_LOG(kFn, LOG_LEVEL_DEBUG, "Exit");
    return true;
}
