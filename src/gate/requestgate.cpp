#include "gate/requestgate.h"

#include <ctime>

#include "civetserver.h"
#include "civetweb.h"
#include "civetweb_ext.h"
#include "gate/crosssite.h"
#include "gate/redfisherrors.h"
#include "gate/requestpath.h"
#include "jsonadapter.h"
#include "logging/refusallog.h"
#include "protocol/protocolprofile.h"
#include "protocol/requestrules.h"
#include "session/loginthrottle.h"
#include "session/privileges.h"
#include "session/sessionauth.h"

namespace {

int64_t now() {
    return static_cast<int64_t>(std::time(nullptr));
}

// "UserName" of the account the plug-in serves at `uri` ("" when unknown).
std::string accountUserName(const ResourceReader& readResource, const std::string& uri) {
    if (!readResource)
        return "";
    const json::Value data = resourceData(readResource(uri));
    const json::Value name =
        data.is_object() ? data.value("UserName", json::Value()) : json::Value();
    return name.is_string() ? name.get<std::string>() : "";
}

// The members a JSON object body sets; none for any other body.
std::vector<std::string> memberNamesOf(const std::string& body) {
    std::vector<std::string> names;
    json::Value object;
    if (json::tryParseObject(body, object)) {
        for (auto it = object.begin(); it != object.end(); ++it)
            names.push_back(it.key());
    }
    return names;
}

// Whether the resource a request addresses is the caller's own.
bool ownResource(SelfRule rule, const GateRequest& request, const SessionRecord& session,
                 GateOutcome& outcome, const ResourceReader& readResource) {
    switch (rule) {
    case SelfRule::OwnAccount:
        if (outcome.accountUser.empty())
            outcome.accountUser = accountUserName(readResource, canonicalPath(request.path));
        return !session.userName.empty() && sameAccountName(outcome.accountUser, session.userName);
    case SelfRule::OwnSession:
        return !session.location.empty() && samePath(session.location, request.path);
    case SelfRule::None:
        break;
    }
    return false;
}

GateOutcome refused() {
    return GateOutcome{};
}

GateOutcome answerThrottled(struct mg_connection* conn, int64_t wait) {
    writeErrorAnswer(conn, 429, redfisherror::tooManyFailedLogins(wait),
                     {{"Retry-After", std::to_string(wait)}});
    logRefusal(mg_get_request_info(conn)->remote_addr, 429, rawRequestPath(conn));
    return refused();
}

} // namespace

json::Value resourceData(const std::string& reply) {
    json::Value root;
    if (!json::tryParseObject(reply, root) ||
        json::asInteger64(root.value("HttpStatus", json::Value())) != 200)
        return json::Value();
    json::Value data = root.value("Data", json::Value());
    if (data.is_string()) {
        const std::string text = data.get<std::string>(); // the parse resets `data`
        if (!json::tryParseObject(text, data))
            return json::Value();
    }
    return data.is_object() ? data : json::Value();
}

std::string rawRequestPath(struct mg_connection* conn) {
    const struct mg_request_info* ri = conn ? mg_get_request_info(conn) : nullptr;
    if (!ri)
        return "";
    const char* raw = ri->local_uri_raw ? ri->local_uri_raw : ri->request_uri;
    return raw ? raw : "";
}

GateOutcome passGate(struct mg_connection* conn, const GateRequest& request,
                     const ResourceReader& readResource, const BodyReader& readBody,
                     const BasicLogin& basicLogin) {
    const struct mg_request_info* ri = conn ? mg_get_request_info(conn) : nullptr;
    if (!ri)
        return refused();
    // The library has decoded the request's path in place already.
    const std::string raw = rawRequestPath(conn);
    if (tolvane_request_target_unsafe(ri) || !decodedPathHasOneMeaning(raw) ||
        !decodedPathHasOneMeaning(request.path)) {
        writeErrorAnswer(conn, 400, redfisherror::invalidUri(raw));
        logRefusal(ri->remote_addr, 400, raw);
        return refused();
    }
    if (refuseUnsupportedODataVersion(conn))
        return refused();
    const std::string address = ri->remote_addr;

    if (request.login) {
        // A blocked address is refused before its body is read.
        if (const int64_t wait = loginThrottle().blockedFor(address, "", now()))
            return answerThrottled(conn, wait);
        const std::string user = readBody ? loginBodyUserName(readBody()) : std::string();
        if (const int64_t wait = loginThrottle().blockedFor(address, user, now()))
            return answerThrottled(conn, wait);
        GateOutcome outcome;
        outcome.pass = true;
        return outcome;
    }
    if (request.exempt) {
        GateOutcome outcome;
        outcome.pass = true;
        return outcome;
    }

    const char* headerToken = mg_get_header(conn, "X-Auth-Token");
    // Without the token header the credentials (cookie or Basic) are ones a
    // browser sends by itself: the cross-site rules apply.
    const bool cookieOnly = !(headerToken && *headerToken);
    GateOutcome outcome;
    outcome.session =
        address.empty()
            ? std::nullopt
            : authorizedSession(address, presentedToken(headerToken, mg_get_header(conn, "Cookie")),
                                now());
    const bool standard = profileRules().basicAuthentication;
    if (!outcome.session && standard && basicLogin && !address.empty()) {
        // Basic credentials are a login on every request: the same throttle.
        if (auto credentials = basicCredentials(mg_get_header(conn, "Authorization"))) {
            if (const int64_t wait = loginThrottle().blockedFor(address, credentials->user, now()))
                return answerThrottled(conn, wait);
            // Past the failure budget strangers hash one at a time, at a lower priority.
            LoginLane lane(loginThrottle(), address, credentials->user, now(),
                           !CivetServer::callHoldsGlobalLock(conn));
            if (!lane.admitted())
                return answerThrottled(conn, 1);
            outcome.session = basicLogin(*credentials);
        }
    }
    if (!outcome.session) {
        // The standard profile's writer adds the challenge and the error object.
        answerUnauthorized(conn);
        logRefusal(address, 401, raw);
        return refused();
    }
    tolvane_connection_authenticated(conn); // ordinary deadlines and body cap from now on

    if (cookieOnly) {
        CrossSiteFacts facts;
        facts.method = request.method;
        facts.multipartRoad = request.multipart;
        facts.contentType = mg_get_header(conn, "Content-Type");
        facts.origin = mg_get_header(conn, "Origin");
        facts.host = mg_get_header(conn, "Host");
        facts.secFetchSite = mg_get_header(conn, "Sec-Fetch-Site");
        if (!cookieRequestAllowed(facts)) {
            writeErrorAnswer(conn, 403, redfisherror::crossSiteRequestRefused());
            return refused();
        }
    }

    const AccessRule rule = accessRuleFor(request.route, request.method, request.path);
    Requirement required = rule.required;
    if (rule.properties && readBody && onlyTheseChange(memberNamesOf(readBody()), rule.properties))
        required = rule.forProperties;
    const bool accountWrite = request.route.kind == RouteKind::AccountMember &&
                              (request.method == "PATCH" || request.method == "DELETE");
    if (accountWrite)
        outcome.accountUser = accountUserName(readResource, canonicalPath(request.path));
    const SessionRecord& session = *outcome.session;
    const bool allowed = meets(required, session.privileges, false) ||
                         (onlyOwnershipCanGrant(required, session.privileges) &&
                          ownResource(rule.self, request, session, outcome, readResource));
    if (!allowed) {
        writeErrorAnswer(conn, 403, redfisherror::insufficientPrivilege());
        return refused();
    }
    outcome.pass = true;
    return outcome;
}
