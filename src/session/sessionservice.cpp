#include "session/sessionservice.h"

#include <ctime>
#include <vector>

#include "answer/answerwriter.h"
#include "civetserver.h"
#include "civetweb_ext.h"
#include "compactreply.h"
#include "gate/redfisherrors.h"
#include "gate/requestpath.h"
#include "logging/audit.h"
#include "loginrules.h"
#include "loglines.h"
#include "postrules.h"
#include "protocol/protocolprofile.h"
#include "redfishserver/serverconfig.h"
#include "redfishtrace.h"
#include "session/loginthrottle.h"
#include "session/sessionauth.h"

namespace {

constexpr const char* kPostFunction = "RedfishServerHandler::handlePost";
constexpr const char* kJsonType = "application/json";
constexpr const char* kInternalError = "Internal Error";

// Account members whose change ends the user's sessions. "Oem" holds
// privileges of its own (an OS user's privilege level).
const char* const kRevokingMembers[] = {"Password", "RoleId", "Enabled",
                                        "UserName", "Locked", "Oem"};

// The token of a login reply, as the login reads it.
std::string loginToken(const json::Value& reply) {
    std::string token;
    getJsonMemberText(getResponseHeadersText(reply).c_str(), "X-Auth-Token", token);
    return token;
}

} // namespace

Answer SessionService::loginAnswer(const std::string& token, const std::string& location,
                                   bool tls) const {
    Answer answer;
    answer.status = 201;
    answer.classicHead = Answer::ClassicHead::Library;
    answer.headers = {{"Location", location}, {"X-Auth-Token", token}};
    const std::string cookie = sessionCookieText(token) + sessionCookieAttributes(tls);
    for (auto& field : sessionCookieHeaderFields(cookie, sessionTimeout_, std::time(nullptr)))
        answer.headers.push_back(std::move(field));
    answer.headers.emplace_back("Cache-Control", "no-store"); // the answer carries the token
    answer.headers.emplace_back("Content-Type", kJsonType);
    answer.headers.emplace_back("Connection", "keep-alive");
    return answer;
}

AddSessionResult SessionService::openSession(SessionRecord record, SessionAdmission admission,
                                             PluginCalls& calls) const {
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

void SessionService::endPluginSession(PluginCalls& calls, const std::string& location) {
    const CommandHandlerFn remove = calls.entry(REDFISH_ENTRY_DELETE);
    std::string ignored;
    if (remove && !location.empty() && isSafeHeaderValue(location))
        calls.call(remove, location, "{}", ignored);
}

PrivilegeSet SessionService::rolePrivileges(const std::string& roleId, PluginCalls& calls) {
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

std::optional<SessionRecord> SessionService::verifyBasic(PluginCalls& calls,
                                                         const std::string& address,
                                                         const BasicCredentials& credentials,
                                                         const std::string& hostName) const {
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
    const std::string argument = buildLoginArgument(hostName, json::dump(body), address);
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
    record.hostName = hostName;
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

void SessionService::login(struct mg_connection* conn, const std::string& pluginUri,
                           const std::string& body, const std::string& host,
                           PluginCalls& calls) const {
    const struct mg_request_info* ri = mg_get_request_info(conn);
    const char* method = ri->request_method ? ri->request_method : "";
    const std::string clientAddress = ri->remote_addr;
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
        return;
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
        return;
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
                    return;
                }
                if (opened == AddSessionResult::RoleRefused) {
                    REDFISH_LOG(kPostFunction, LOG_LEVEL_ERROR,
                                " The account's role may not use the service; login refused");
                    auditRecord(AuditEvent::Login, clientAddress, typedName, 403);
                    writeErrorAnswer(conn, 403,
                                     redfisherror::restrictedRole(effectiveRoleId(dataText)));
                    return;
                }
                if (opened == AddSessionResult::Full) {
                    REDFISH_LOG(kPostFunction, LOG_LEVEL_ERROR,
                                " Session table full; login refused");
                    auditRecord(AuditEvent::Login, clientAddress, typedName, 503);
                    writeErrorAnswer(conn, 503, redfisherror::sessionLimitExceeded());
                    return;
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
}

namespace {

// Ends the logins of `user`: its sessions (but the one holding `keepToken`)
// and its Basic verdicts.
void endLoginsOf(const std::string& user, const std::string& keepToken = "") {
    removeSessionsOfUser(user, keepToken);
    basicVerdictCache().forgetUser(user);
}
} // namespace

void SessionService::afterAccountChange(const GateRequest& request, const GateOutcome& outcome,
                                        int status, const std::string& body) {
    if (status < 200 || status > 299)
        return;
    if (outcome.accountUser.empty() || request.route.kind != RouteKind::AccountMember)
        return;
    if (request.method == "DELETE") {
        endLoginsOf(outcome.accountUser);
        return;
    }
    if (request.method != "PATCH")
        return;
    json::Value changes;
    if (!json::tryParseObject(body, changes)) {
        endLoginsOf(outcome.accountUser); // unknown change: assume the worst
        return;
    }
    bool revoke = false;
    bool onlyPassword = true;
    for (const char* member : kRevokingMembers) {
        if (json::hasMember(changes, member)) {
            revoke = true;
            onlyPassword = onlyPassword && std::string(member) == "Password";
        }
    }
    if (!revoke)
        return;
    // The user who changed their own password keeps the session that did it.
    const bool own =
        outcome.session && sameAccountName(outcome.session->userName, outcome.accountUser);
    endLoginsOf(outcome.accountUser, onlyPassword && own ? outcome.session->token : std::string());
}
