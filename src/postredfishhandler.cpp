// POST: logins, firmware updates sent without a form, and every other POST;
// the answers built from the plug-in's reply, file answers included.
#include "postredfishhandler.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <exception>
#include <vector>

#include "answer/answerwriter.h"
#include "civetweb_ext.h"
#include "gate/redfisherrors.h"
#include "gate/requestgate.h"
#include "logging/audit.h"
#include "loginrules.h"
#include "logging/logclip.h"
#include "loglines.h"
#include "postrules.h"
#include "protocol/certificateservice.h"
#include "protocol/protocolprofile.h"
#include "protocol/requestrules.h"
#include "redfishserver/pluginhost.h"
#include "redfishserver/serverconfig.h"
#include "redfishserverhandler.h"
#include "redfishtrace.h"
#include "redfishserver/installpaths.h"
#include "session/loginthrottle.h"
#include "session/sessionauth.h"
#include "session/sessiontable.h"
#include "uploadrules.h"

namespace {

constexpr const char* kPostFunction = "RedfishServerHandler::handlePost";
constexpr const char* kJsonType = "application/json";
constexpr const char* kInternalError = "Internal Error";

struct FileCloser {
    void operator()(std::FILE* file) const {
        if (file)
            std::fclose(file);
    }
};

void traceAnswer(bool traceResponse, const char* method, int status, long long bytes) {
    if (!traceResponse)
        return;
    std::string data = "Content Length: " + std::to_string(bytes);
    writeResponseTrace(method, status, data.c_str());
}

} // namespace

std::string restoreLogFilePath() {
    char logDir[kPathBufferSize] = {};
    readLogDirectory(logDir);
    return std::string(logDir) + "RestoreConfiguration.log";
}

void answerRefusedRequest(struct mg_connection* conn, int status) {
    // The rest of a refused body is not read: the engine would otherwise
    // drain whatever length the client declared before closing.
    mg_disable_connection_keep_alive(conn);
    sendAnswer(conn, RedfishServerHandler::generalErrorAnswer(status));
}

bool writePostAnswer(struct mg_connection* conn, const std::string& reply, const LogContext& log,
                     const char* method, bool traceResponse, PluginCalls& calls) {
    json::Value root;
    json::Value data;
    Answer answer = jsonAnswer(500, kInternalError);
    std::string logged;
    if (!json::tryParseObject(reply, root)) {
        calls.release();
    } else if (std::string dataText = json::memberText(root, "Data");
               !json::tryParseObject(dataText, data) || !json::hasMember(data, "contentType")) {
        calls.release();
        answer = jsonAnswer(answerStatus(root), std::move(dataText), pluginReplyHeaders(reply));
    } else {
        // A file answer: the plug-in names a file whose bytes form the body.
        const std::string fileName = json::memberText(data, "fileName");
        const std::string contentType = json::memberText(data, "contentType");
        if (fileName.empty() || !isSafeHeaderValue(contentType)) {
            calls.release();
            if (!fileName.empty())
                REDFISH_LOG_IN(log, LOG_LEVEL_ERROR, " Refused a content type with a line break");
        } else {
            std::shared_ptr<std::FILE> file(std::fopen(fileName.c_str(), "rb"), FileCloser());
            calls.release();
            answer.headers = {{"Content-Type", contentType}};
            answer.body.clear();
            if (!file) {
                REDFISH_LOG_IN(log, LOG_LEVEL_DEBUG, " Failed to open the file ");
                sendAnswer(conn, std::move(answer));
                REDFISH_LOG_IN(log, LOG_LEVEL_DEBUG, "Exit");
                return true;
            }
            answer.status = answerStatus(root);
            answer.file = std::move(file);
            logged = "<file " + fileName + ">";
        }
    }
    const int status = answer.status;
    REDFISH_LOG_IN(log, LOG_LEVEL_DEBUG, " Response OUT: %s",
                   logged.empty() ? answer.body.c_str() : logged.c_str());
    const long long sent = sendAnswer(conn, std::move(answer));
    if (sent < 0) {
        REDFISH_LOG_IN(log, LOG_LEVEL_ERROR, " Failed to send the response to client");
        REDFISH_LOG_IN(log, LOG_LEVEL_DEBUG, "Exit");
        return true;
    }
    traceAnswer(traceResponse, method, status, sent);
    REDFISH_LOG_IN(log, LOG_LEVEL_DEBUG, "Exit");
    return true;
}

bool RedfishServerHandler::handlePost(CivetServer* server, struct mg_connection* conn) {
    REDFISH_LOG(kPostFunction, LOG_LEVEL_DEBUG, "Entry");
    if (!server || !conn) {
        REDFISH_LOG(kPostFunction, LOG_LEVEL_ERROR, "Server and mg_connection object is NULL");
        REDFISH_LOG(kPostFunction, LOG_LEVEL_DEBUG, "Exit");
        return false;
    }
    const struct mg_request_info* ri = mg_get_request_info(conn);
    const char* method = (ri && ri->request_method) ? ri->request_method : "";
    const char* requestUri = (ri && ri->request_uri) ? ri->request_uri : "";
    REDFISH_LOG(kPostFunction, LOG_LEVEL_DEBUG, "HTTP POST request received for URI = %s\n",
                logtext::Clipped(requestUri).c_str());
    REDFISH_LOG(kPostFunction, LOG_LEVEL_DEBUG, "Method = %s\n", method);
    // Decisions and the plug-in see the path with dot segments resolved (and,
    // in the standard profile, a collection's "/Members" as the collection).
    const std::string target = postTargetOf(normalisedUri(ri));
    const std::string pluginUri = pluginUriOf(target);

    if (!pluginModule) {
        REDFISH_LOG(kPostFunction, LOG_LEVEL_ERROR, "Redfish Server handler is NULL");
        REDFISH_LOG(kPostFunction, LOG_LEVEL_DEBUG, "Exit");
        return false;
    }
    GateRequest admitted;
    admitted.method = method;
    admitted.path = target;
    RequestContext context(*this, conn, std::move(admitted));
    if (!admit(context)) {
        REDFISH_LOG(kPostFunction, LOG_LEVEL_DEBUG, "Exit");
        return true;
    }
    PluginCalls& calls = context.calls;
    const GateOutcome& gate = context.gate;
    const bool login = context.request.login;

    const CommandHandlerFn post = calls.entry(REDFISH_ENTRY_POST);
    if (!post) {
        sendAnswer(conn, jsonAnswer(500, ""));
        REDFISH_LOG(kPostFunction, LOG_LEVEL_DEBUG, " POST command handler is NULL ");
        REDFISH_LOG(kPostFunction, LOG_LEVEL_DEBUG, "Exit");
        return true;
    }

    if (answerBodyFailure(conn, method, requestUri)) {
        REDFISH_LOG(kPostFunction, LOG_LEVEL_DEBUG, "Exit");
        return true;
    }
    const std::string& body = context.body.text();

    if (answeredByServer(context.request.route.kind)) {
        // The server's own actions: the plug-in never sees the key material.
        Answer answer = certificateAction(context.request.route.kind, body);
        const int status = answer.status;
        auditRecord(AuditEvent::CertificateChange, ri->remote_addr,
                    gate.session ? gate.session->userName : "", status, "target=" + target);
        sendAnswer(conn, std::move(answer));
        REDFISH_LOG(kPostFunction, LOG_LEVEL_DEBUG, "Exit");
        return true;
    }

    if (login) {
        sessions_.login(conn, pluginUri, body, knownHostName(), calls);
        REDFISH_LOG(kPostFunction, LOG_LEVEL_DEBUG, "Exit");
        return true;
    }

    std::string reply;
    calls.hold(); // until the answer's file, if any, is open
    if (const OemUploadAction* action = context.request.route.upload) {
        // A JSON POST names no file of its own: only an upload stores one.
        const std::string logFilePath = action->withLogFile ? restoreLogFilePath() : "";
        calls.call(post, pluginUri,
                   buildUploadActionArgument(body, action->withLogFile ? &logFilePath : nullptr),
                   reply);
    } else {
        calls.call(post, pluginUri, body, reply);
    }
    writeRequestTrace(method, requestUri, body.c_str());
    auditPostReply(target, ri->remote_addr, gate.session ? gate.session->userName : "", body,
                   reply);
    REDFISH_LOG(kPostFunction, LOG_LEVEL_DEBUG, "Plugin Response : %s", reply.c_str());
    return writePostAnswer(conn, reply, TOLVANE_LOG_CONTEXT(kPostFunction), method, true, calls);
}
