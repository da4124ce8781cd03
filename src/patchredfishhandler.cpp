// PATCH: every request authorised and forwarded to the resource plug-in.
#include "redfishserverhandler.h"

#include "logging/logclip.h"
#include "loglines.h"
#include "redfishserver/pluginhost.h"
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

    REDFISH_LOG(kFn, LOG_LEVEL_DEBUG, "HTTP PATCH request received for URI = %s\n",
                logtext::Clipped(requestUri).c_str());
    REDFISH_LOG(kFn, LOG_LEVEL_DEBUG, "Method = %s \n", method);

    if (!pluginModule) {
        REDFISH_LOG(kFn, LOG_LEVEL_ERROR, "Redfish Server handler is NULL");
        REDFISH_LOG(kFn, LOG_LEVEL_DEBUG, "Exit");
        return false;
    }
    return forwardToPlugin(conn, PluginRoad{TOLVANE_LOG_CONTEXT(kFn), REDFISH_ENTRY_PATCH,
                                            " PATCH command handler is NULL",
                                            " Response OUT : ", FailedWrite::Logged, resource});
}
