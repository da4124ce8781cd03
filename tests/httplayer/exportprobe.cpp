// A plug-in built only against the program's public headers and linked
// against nothing: every call below must resolve against the running
// program's exports when it is loaded.
#include <string>

#include "Logger.h"
#include "RedfishPlugin.h"
#include "civetserver.h"

// Answers the current request from inside the server with what the
// program's exports returned.
REDFISH_PLUGIN_EXPORT int exportProbeRequest(struct mg_connection* conn) {
    Logger::PrintLog(LOGGER_TYPE_4, "export probe %s\n", CivetServer::getMethod(conn));

    std::string encoded;
    CivetServer::urlEncode("a b", encoded);

    const struct mg_request_info* ri = mg_get_request_info(conn);
    const char* probe = mg_get_header(conn, "X-Probe");
    char b64[16];
    size_t b64Len = sizeof(b64);
    mg_base64_encode(reinterpret_cast<const unsigned char*>("hi"), 2, b64, &b64Len);
    const char* type = "application/json; CHARSET=utf-8";

    std::string body = std::string("type=") + std::to_string(mg_get_debug_log_type()) +
                       " method=" + CivetServer::getMethod(conn) + " uri=" + ri->local_uri +
                       " header=" + (probe ? probe : "-") + " enc=" + encoded + " b64=" + b64 +
                       " cmp=" + std::to_string(mg_strcasecmp("ABC", "abc")) +
                       " find=" + std::to_string(mg_strcasestr(type, "charset") - type) +
                       " version=" + mg_version();
    mg_send_http_ok(conn, "text/plain", static_cast<long long>(body.size()));
    mg_write(conn, body.data(), body.size());
    return 200;
}

// The command entry point, so the same probe can stand in as the resource
// plug-in of the real program.
REDFISH_PLUGIN_EXPORT bool initializeAllPlugins(RedfishModuleHandle) {
    return true;
}

REDFISH_PLUGIN_EXPORT void GetCommandInterfaceHandler(const char* uri, const char*,
                                                      std::string& reply) {
    // Kind 5 is written whatever the level mask.
    Logger::PrintLog(5, "export probe GET %s\n", uri);
    std::string encoded;
    CivetServer::urlEncode(uri, encoded);
    const char* text = "Probe";
    reply = "{\"HttpStatus\":200,\"Data\":{\"DebugLogType\":" +
            std::to_string(mg_get_debug_log_type()) + ",\"Encoded\":\"" + encoded +
            "\",\"Found\":" + std::to_string(mg_strcasestr(uri, "probe") != nullptr) +
            ",\"Compare\":" + std::to_string(mg_strcasecmp(text, "PROBE")) + ",\"Version\":\"" +
            mg_version() + "\"}}";
}

// Logins succeed with a fixed token so that GETs pass the server's checks.
REDFISH_PLUGIN_EXPORT void PostCommandInterfaceHandler(const char*, const char*,
                                                       std::string& reply) {
    reply = "{\"response\":{\"HttpStatus\":201,\"Data\":{\"Role\":\"/redfish/v1/AccountService/"
            "Roles/Administrator\",\"OSPrivilegeLevel\":\"Administrator\"},\"Headers\":{"
            "\"X-Auth-Token\":\"probe-token\",\"Location\":\"/redfish/v1/SessionService/"
            "Sessions/1\"}}}";
}
