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

// The token of a login reply, as the login reads it.
std::string loginToken(const json::Value& reply) {
    std::string token;
    getJsonMemberText(getResponseHeadersText(reply).c_str(), "X-Auth-Token", token);
    return token;
}

} // namespace

const char* getJsonMemberText(const char* jsonText, const char* name, std::string& out) {
    try {
        json::Value root;
        if (!json::parseObject(jsonText ? jsonText : "", root))
            out = "root parse failed";
        else if (!json::hasMember(root, name))
            out = "{}";
        else
            out = json::asText(root.at(name));
    } catch (const std::exception&) {
        out = json::kInternalException;
    }
    return out.c_str();
}

std::string getResponseHeadersText(const json::Value& reply) {
    if (!json::hasMember(reply, "response"))
        return "";
    return json::memberText(reply.at("response"), "Headers");
}

Answer RedfishServerHandler::loginAnswer(const std::string& token, const std::string& location,
                                         bool tls) const {
    Answer answer;
    answer.status = 201;
    answer.classicHead = Answer::ClassicHead::Library;
    answer.headers = {{"Location", location}, {"X-Auth-Token", token}};
    const std::string cookie = sessionCookieText(token) + sessionCookieAttributes(tls);
    for (auto& field : sessionCookieHeaderFields(cookie, sessionTimeout, std::time(nullptr)))
        answer.headers.push_back(std::move(field));
    answer.headers.emplace_back("Cache-Control", "no-store"); // the answer carries the token
    answer.headers.emplace_back("Content-Type", kJsonType);
    answer.headers.emplace_back("Connection", "keep-alive");
    return answer;
}

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
    learnHostNameOnce(conn);

    PluginCalls calls(pluginModule, pluginCallsMayOverlap(),
                      CivetServer::callHoldsGlobalLock(conn));
    GateRequest request;
    request.method = method;
    request.path = target;
    request.login = isLoginUri(request.path);
    const bool login = request.login;
    RequestBody requestBody(*this, conn);
    const GateOutcome gate = passGate(
        conn, request, [&calls](const std::string& uri) { return calls.read(uri); },
        [&]() -> const std::string& { return requestBody.text(); },
        [&](const BasicCredentials& c) { return verifyBasicLogin(calls, ri->remote_addr, c); });
    if (!gate.pass) {
        REDFISH_LOG(kPostFunction, LOG_LEVEL_DEBUG, "Exit");
        return true;
    }
    if (gate.session)
        calls.actAs(gate.session->userName, gate.session->privileges);

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
    const std::string& body = requestBody.text();

    if (login)
        return handleLogin(conn, ri, pluginUri, body, calls);

    std::string reply;
    calls.hold(); // until the answer's file, if any, is open
    if (const OemUploadAction* action = findOemUploadAction(pluginUri)) {
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

AddSessionResult RedfishServerHandler::openSession(SessionRecord record, SessionAdmission admission,
                                                   PluginCalls& calls) {
    // A role the server refuses gets no session: its token never works. A
    // standard service says so instead of handing out that token.
    if (!roleRulesPermit(record.sessionInfo)) {
        if (!profileRules().refusesUnusableRoleAtLogin)
            return AddSessionResult::Stored;
        endPluginSession(calls, record.location);
        return AddSessionResult::RoleRefused;
    }
    record.roleVerdict = 1;
    record.privileges = rolePrivileges(effectiveRoleId(record.sessionInfo), calls);
    const std::string location = record.location;
    std::vector<SessionRecord> evicted;
    admission.perAccount = sessionsPerAccount();
    admission.evicted = &evicted;
    const AddSessionResult added =
        addSession(std::move(record), ServerConfig.MaximumNumberOfConcurrentSessions,
                   static_cast<int64_t>(std::time(nullptr)), admission);
    if (added == AddSessionResult::NoToken)
        REDFISH_LOG(kPostFunction, LOG_LEVEL_DEBUG,
                    " Login reply without a session token; no session stored");
    // The plug-in ends what the server ended, and a session the server will
    // not honour.
    if (added == AddSessionResult::Full || added == AddSessionResult::Revoked)
        endPluginSession(calls, location);
    for (const SessionRecord& gone : evicted)
        endPluginSession(calls, gone.location);
    return added;
}

void RedfishServerHandler::endPluginSession(PluginCalls& calls, const std::string& location) {
    const CommandHandlerFn remove = calls.entry(REDFISH_ENTRY_DELETE);
    std::string ignored;
    if (remove && !location.empty() && isSafeHeaderValue(location))
        calls.call(remove, location, "{}", ignored);
}

PrivilegeSet RedfishServerHandler::rolePrivileges(const std::string& roleId, PluginCalls& calls) {
    // The plug-in's role document decides; the standard roles stand in for
    // plug-ins that serve none.
    if (!roleId.empty() && roleId.find_first_of("/?#") == std::string::npos) {
        const json::Value role =
            resourceData(calls.read("/redfish/v1/AccountService/Roles/" + roleId));
        const json::Value assigned =
            role.is_object() ? role.value("AssignedPrivileges", json::Value()) : json::Value();
        if (assigned.is_array()) {
            std::vector<std::string> names;
            for (const json::Value& name : assigned)
                if (name.is_string())
                    names.push_back(name.get<std::string>());
            return privilegesNamed(names);
        }
    }
    return standardRolePrivileges(roleId).value_or(0);
}

std::optional<SessionRecord>
RedfishServerHandler::verifyBasicLogin(PluginCalls& calls, const std::string& address,
                                       const BasicCredentials& credentials) {
    const int64_t now = static_cast<int64_t>(std::time(nullptr));
    if (auto known = basicVerdictCache().find(credentials, now)) {
        loginThrottle().recordSuccess(address, credentials.user, now);
        return known;
    }
    const CommandHandlerFn post = calls.entry(REDFISH_ENTRY_POST);
    if (!post)
        return std::nullopt;
    json::Value body = json::Value::object();
    body["UserName"] = credentials.user;
    body["Password"] = credentials.password;
    const std::string argument = buildLoginArgument(knownHostName(), json::dump(body), address);
    const uint64_t generation = accountGeneration(credentials.user);

    // The login, the role's privileges and the end of the plug-in's session
    // are one step, like a session login.
    calls.hold();
    struct Release {
        PluginCalls& calls;
        ~Release() { calls.release(); } // on every way out, before any answer
    } release{calls};
    std::string reply;
    calls.call(post, "/redfish/v1/SessionService/Sessions", argument, reply);
    json::Value root;
    if (!json::tryParseObject(reply, root))
        return std::nullopt;
    // A refused login may come as a plain envelope.
    const json::Value& response = json::hasMember(root, "response") ? root.at("response") : root;
    const int64_t status =
        json::hasMember(response, "HttpStatus") ? json::asInteger64(response.at("HttpStatus")) : 0;
    if (status != 201) {
        auditRecord(AuditEvent::BasicLogin, address, credentials.user, static_cast<int>(status));
        if (status == 401)
            loginThrottle().recordFailure(address, credentials.user, now);
        return std::nullopt;
    }
    loginThrottle().recordSuccess(address, credentials.user, now);
    std::string location;
    getJsonMemberText(getResponseHeadersText(root).c_str(), "Location", location);
    SessionRecord record;
    record.sessionInfo = json::memberText(response, "Data");
    record.hostName = knownHostName();
    record.clientAddress = address;
    record.createdAt = now;
    record.userName = sessionAccountName(record.sessionInfo, credentials.user);
    const bool permitted = roleRulesPermit(record.sessionInfo);
    if (permitted) {
        record.roleVerdict = 1;
        record.privileges = rolePrivileges(effectiveRoleId(record.sessionInfo), calls);
    }
    // No session is left behind: the credentials come with every request.
    endPluginSession(calls, location);
    // A verdict that raced a revocation of its account is not given. A role
    // the server refuses holds no privilege: refused, not taken for a wrong password.
    if (!basicVerdictCache().store(credentials, record, now, generation))
        return std::nullopt;
    auditRecord(AuditEvent::BasicLogin, address, record.userName, permitted ? 201 : 403);
    return record;
}

bool RedfishServerHandler::handleLogin(struct mg_connection* conn, const struct mg_request_info* ri,
                                       const std::string& pluginUri, const std::string& body,
                                       PluginCalls& calls) {
    const char* method = ri->request_method ? ri->request_method : "";
    const std::string clientAddress = ri->remote_addr;
    const std::string host = knownHostName();
    const std::string argument = buildLoginArgument(host, body, clientAddress);
    // Credentials never reach the trace file.
    writeRequestTrace(method, ri->request_uri ? ri->request_uri : "", kLoginTraceMask);

    // The name as the plug-in reads it; throttling, revocation and the audit
    // all go by it.
    const std::string typedName = loginBodyUserName(body);
    // Past the failure budget strangers hash one at a time, at a lower priority.
    LoginLane lane(loginThrottle(), clientAddress, typedName, std::time(nullptr),
                   !CivetServer::callHoldsGlobalLock(conn));
    if (!lane.admitted()) {
        writeErrorAnswer(conn, 429, redfisherror::tooManyFailedLogins(1), {{"Retry-After", "1"}});
        return true;
    }
    // The login and the session it stores are one step; the answer follows
    // once the plug-in is free again.
    calls.hold();
    const uint64_t generation = accountGeneration(typedName);
    std::string reply;
    calls.call(calls.entry(REDFISH_ENTRY_POST), pluginUri, argument, reply);
    lane.leave();

    json::Value root;
    const bool parsed = json::tryParseObject(reply, root);
    // The session token stays out of the log.
    const std::string secret = parsed ? loginToken(root) : std::string();
    REDFISH_LOG(kPostFunction, LOG_LEVEL_DEBUG, "Plugin Response : %s",
                maskToken(reply, secret).c_str());

    Answer out = jsonAnswer(500, kInternalError);
    if (!parsed) {
        calls.release();
    } else if (!json::hasMember(root, "response")) {
        // A plain envelope: answered like any reply, without the session headers.
        calls.release();
        std::string text;
        const int status = convertPluginReply(reply.c_str(), text);
        auditRecord(AuditEvent::Login, clientAddress, typedName, status);
        if (status == 401)
            loginThrottle().recordFailure(clientAddress, typedName, std::time(nullptr));
        if (sendAnswer(conn, jsonAnswer(status, std::move(text))) < 0)
            REDFISH_LOG(kPostFunction, LOG_LEVEL_ERROR, " Failed to send the response to client");
        REDFISH_LOG(kPostFunction, LOG_LEVEL_DEBUG, "Exit");
        return true;
    } else {
        const json::Value& response = root.at("response");
        const std::string dataText = json::memberText(response, "Data");
        const int64_t replyStatus = json::hasMember(response, "HttpStatus")
                                        ? json::asInteger64(response.at("HttpStatus"))
                                        : 0;
        if (replyStatus != 201) {
            calls.release();
            auditRecord(AuditEvent::Login, clientAddress, typedName, static_cast<int>(replyStatus));
            if (replyStatus == 401)
                loginThrottle().recordFailure(clientAddress, typedName, std::time(nullptr));
            std::string text;
            convertPluginReply(json::asText(response).c_str(), text);
            out = jsonAnswer(isAnswerableStatus(replyStatus) ? static_cast<int>(replyStatus) : 500,
                             std::move(text));
        } else {
            const std::string headersText = getResponseHeadersText(root);
            std::string token;
            std::string location;
            getJsonMemberText(headersText.c_str(), "X-Auth-Token", token);
            getJsonMemberText(headersText.c_str(), "Location", location);
            if (!isSafeHeaderValue(token) || !isSafeHeaderValue(location)) {
                calls.release();
                // A line break would let the plug-in's text end our header early.
                REDFISH_LOG(kPostFunction, LOG_LEVEL_ERROR,
                            " Refused a login header with a line break");
            } else {
                const int64_t now = static_cast<int64_t>(std::time(nullptr));
                loginThrottle().recordSuccess(clientAddress, typedName, now);
                SessionRecord record;
                record.token = token;
                record.sessionInfo = dataText;
                record.hostName = host;
                record.clientAddress = clientAddress;
                record.createdAt = now;
                record.location = location;
                record.userName = sessionAccountName(dataText, typedName);
                SessionAdmission admission;
                admission.loginName = typedName;
                admission.generation = generation;
                const AddSessionResult opened = openSession(std::move(record), admission, calls);
                calls.release();
                if (opened == AddSessionResult::Revoked) {
                    REDFISH_LOG(kPostFunction, LOG_LEVEL_ERROR,
                                " Account changed during the login; login refused");
                    auditRecord(AuditEvent::Login, clientAddress, typedName, 401);
                    answerUnauthorized(conn);
                    REDFISH_LOG(kPostFunction, LOG_LEVEL_DEBUG, "Exit");
                    return true;
                }
                if (opened == AddSessionResult::RoleRefused) {
                    REDFISH_LOG(kPostFunction, LOG_LEVEL_ERROR,
                                " The account's role may not use the service; login refused");
                    auditRecord(AuditEvent::Login, clientAddress, typedName, 403);
                    writeErrorAnswer(conn, 403,
                                     redfisherror::restrictedRole(effectiveRoleId(dataText)));
                    REDFISH_LOG(kPostFunction, LOG_LEVEL_DEBUG, "Exit");
                    return true;
                }
                if (opened == AddSessionResult::Full) {
                    REDFISH_LOG(kPostFunction, LOG_LEVEL_ERROR,
                                " Session table full; login refused");
                    auditRecord(AuditEvent::Login, clientAddress, typedName, 503);
                    writeErrorAnswer(conn, 503, redfisherror::sessionLimitExceeded());
                    REDFISH_LOG(kPostFunction, LOG_LEVEL_DEBUG, "Exit");
                    return true;
                }
                auditRecord(AuditEvent::Login, clientAddress,
                            sessionAccountName(dataText, typedName), 201);
                // A client that logged in is no stranger to the intake.
                tolvane_connection_authenticated(conn);
                out = loginAnswer(token, location, ri->is_ssl != 0);
                convertPluginReply(dataText.c_str(), out.body);
            }
        }
    }

    REDFISH_LOG(kPostFunction, LOG_LEVEL_DEBUG, " Response OUT: %s",
                maskToken(out.body, secret).c_str());
    if (sendAnswer(conn, std::move(out)) < 0)
        REDFISH_LOG(kPostFunction, LOG_LEVEL_ERROR, " Failed to send the response to client");
    REDFISH_LOG(kPostFunction, LOG_LEVEL_DEBUG, "Exit");
    return true;
}
