#include "gate/redfisherrors.h"

#include "civetweb.h"
#include "jsonadapter.h"
#include "redfishserverhandler.h"
#include "responseheadtext.h"

namespace {

const char* const kRegistry = "Base.1.22.1";

std::string errorObject(const char* messageId, const std::string& message, const char* severity,
                        const char* resolution, const json::Value& args = json::Value::array()) {
    json::Value info = json::Value::object();
    info["@odata.type"] = "#Message.v1_1_1.Message";
    info["MessageId"] = std::string(kRegistry) + "." + messageId;
    info["Message"] = message;
    info["MessageArgs"] = args;
    info["MessageSeverity"] = severity;
    info["Resolution"] = resolution;
    json::Value error = json::Value::object();
    error["error"]["code"] = info["MessageId"];
    error["error"]["message"] = message;
    error["error"]["@Message.ExtendedInfo"] = json::Value::array({info});
    return json::dump(error);
}

} // namespace

namespace redfisherror {

std::string insufficientPrivilege() {
    return errorObject("InsufficientPrivilege",
                       "The session's privileges do not allow the requested operation.", "Critical",
                       "Use an account whose role grants the needed privilege.");
}

std::string sessionLimitExceeded() {
    return errorObject("SessionLimitExceeded",
                       "No session was created: the service holds as many sessions as it can.",
                       "Critical", "End other sessions of this service and log in again.");
}

std::string invalidUri(const std::string& uri) {
    return errorObject("InvalidURI", "The URI " + uri + " names no resource of this service.",
                       "Critical", "Send a URI without encoded '?', '#' or control characters.",
                       json::Value::array({uri}));
}

std::string headerInvalid(const std::string& header) {
    return errorObject("HeaderInvalid", "Header '" + header + "' is invalid.", "Critical",
                       "Resubmit the request with a valid value of the header.",
                       json::Value::array({header}));
}

std::string noValidSession() {
    return errorObject("NoValidSession",
                       "There is no valid session established with the implementation.", "Critical",
                       "Establish a session before retrying the operation, or send valid "
                       "credentials.");
}

std::string crossSiteRequestRefused() {
    return errorObject("InsufficientPrivilege",
                       "A request that carries only the session cookie must come from this "
                       "service's own pages with a JSON or form body.",
                       "Critical", "Send the session token in the X-Auth-Token header.");
}

std::string tooManyFailedLogins(long long retryAfterSeconds) {
    const std::string seconds = std::to_string(retryAfterSeconds);
    return errorObject(
        "ServiceTemporarilyUnavailable",
        "Too many failed logins from this address. Retry in " + seconds + " seconds.", "Critical",
        "Wait for the indicated time and retry the login.", json::Value::array({seconds}));
}

} // namespace redfisherror

void writeErrorAnswer(struct mg_connection* conn, int status, const std::string& errorJson,
                      const std::string& extraHeaderLines) {
    std::string answer;
    appendResponseHead(answer, status, "application/json");
    answer.insert(answer.size() - 2, extraHeaderLines); // before the blank line
    answer += errorJson;
    RedfishServerHandler::writeBody(conn, answer);
}
