#include "gate/redfisherrors.h"

#include "civetweb.h"
#include "jsonadapter.h"
#include "answer/answerwriter.h"

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

// A property of a request body the service refuses: "The property <name>
// <problem>." or, for its value, "The value '<value>' for the property
// <name> <problem>."
std::string propertyError(const char* messageId, const char* problem, const char* remedy,
                          const std::string& property, const std::string* value = nullptr) {
    const std::string subject =
        value ? "The value '" + *value + "' for the property " : std::string("The property ");
    const std::string resolution =
        std::string(remedy) + " in the request body and resubmit the request.";
    return errorObject(
        messageId, subject + property + " " + problem + ".", "Warning", resolution.c_str(),
        value ? json::Value::array({*value, property}) : json::Value::array({property}));
}

} // namespace

namespace redfisherror {

std::string success() {
    json::Value info = json::Value::object();
    info["@odata.type"] = "#Message.v1_1_1.Message";
    info["MessageId"] = std::string(kRegistry) + ".Success";
    info["Message"] = "The request completed successfully.";
    info["MessageArgs"] = json::Value::array();
    info["MessageSeverity"] = "OK";
    info["Resolution"] = "None.";
    json::Value body = json::Value::object();
    body["@Message.ExtendedInfo"] = json::Value::array({info});
    return json::dump(body);
}

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

std::string preconditionFailed() {
    return errorObject("PreconditionFailed",
                       "The ETag supplied did not match the resource's current ETag.", "Critical",
                       "Read the resource again and retry with its current ETag.");
}

std::string operationNotAllowed() {
    return errorObject("OperationNotAllowed", "The HTTP method is not allowed on this resource.",
                       "Critical", "Use one of the methods the Allow header names.");
}

std::string queryParameterUnsupported(const std::string& name) {
    return errorObject("QueryParameterUnsupported",
                       "Query parameter '" + name + "' is not supported.", "Warning",
                       "Correct or remove the query parameter and resubmit the request.",
                       json::Value::array({name}));
}

std::string queryParameterValueFormatError(const std::string& value, const std::string& name) {
    return errorObject("QueryParameterValueFormatError",
                       "Query parameter " + name + " cannot take the value '" + value + "'.",
                       "Warning", "Give a whole number of no more than nine digits.",
                       json::Value::array({value, name}));
}

std::string restrictedRole(const std::string& role) {
    return errorObject("RestrictedRole",
                       "The operation was not successful because the role '" + role +
                           "' is restricted.",
                       "Warning", "Log in with an account whose role may use this service.",
                       json::Value::array({role}));
}

std::string actionParameterMissing(const std::string& action, const std::string& parameter) {
    return errorObject("ActionParameterMissing",
                       "The action " + action + " requires the parameter " + parameter +
                           " to be present in the request body.",
                       "Critical",
                       "Supply the action with the required parameter in the request body when "
                       "the request is resubmitted.",
                       json::Value::array({action, parameter}));
}

std::string actionParameterNotSupported(const std::string& parameter, const std::string& action) {
    return errorObject("ActionParameterNotSupported",
                       "The parameter " + parameter + " for the action " + action +
                           " is not supported on the target resource.",
                       "Warning", "Remove the parameter supplied and resubmit the request.",
                       json::Value::array({parameter, action}));
}

std::string actionParameterValueTypeError(const std::string& value, const std::string& parameter,
                                          const std::string& action) {
    return errorObject("ActionParameterValueTypeError",
                       "The value '" + value + "' for the parameter " + parameter +
                           " in the action " + action +
                           " is not a type that the parameter can accept.",
                       "Warning",
                       "Correct the value for the parameter in the request body and resubmit "
                       "the request.",
                       json::Value::array({value, parameter, action}));
}

std::string actionParameterValueError(const std::string& parameter, const std::string& action,
                                      const std::string& reason) {
    return errorObject("ActionParameterValueError",
                       "The value for the parameter " + parameter + " in the action " + action +
                           " is invalid: " + reason + ".",
                       "Warning",
                       "Correct the value for the parameter in the request body and resubmit "
                       "the request.",
                       json::Value::array({parameter, action}));
}

std::string malformedJson() {
    return errorObject("MalformedJSON",
                       "The request body submitted was malformed JSON and could not be parsed by "
                       "the receiving service.",
                       "Critical",
                       "Ensure that the request body is valid JSON and resubmit the "
                       "request.");
}

std::string propertyUnknown(const std::string& property) {
    return propertyError("PropertyUnknown",
                         "is not in the list of valid properties for the resource",
                         "Remove the unknown property", property);
}

std::string propertyNotWritable(const std::string& property) {
    return propertyError("PropertyNotWritable",
                         "is a read-only property and cannot be assigned a value",
                         "Remove the property", property);
}

std::string propertyValueTypeError(const std::string& value, const std::string& property) {
    return propertyError("PropertyValueTypeError", "is not a type that the property can accept",
                         "Correct the value for the property", property, &value);
}

std::string propertyValueOutOfRange(const std::string& value, const std::string& property) {
    return propertyError("PropertyValueOutOfRange",
                         "is not in the supported range of acceptable values",
                         "Correct the value for the property", property, &value);
}

std::string forStatus(int status, const std::string& uri) {
    switch (status) {
    case 401:
        return noValidSession();
    case 403:
        return insufficientPrivilege();
    case 404:
        return errorObject("ResourceMissingAtURI",
                           "The resource at the URI '" + uri + "' was not found.", "Critical",
                           "Correct the URI and resubmit the request.", json::Value::array({uri}));
    case 405:
    case 501:
        return operationNotAllowed();
    case 412:
        return preconditionFailed();
    case 413:
        return errorObject("PayloadTooLarge",
                           "The request body exceeds the maximum size the service takes.",
                           "Critical", "Send a smaller request body.");
    case 500:
        return errorObject("InternalError",
                           "The request failed due to an internal service error. The service is "
                           "still operational.",
                           "Critical",
                           "Resubmit the request. If the problem persists, restart "
                           "the service.");
    case 503:
        return errorObject("ServiceShuttingDown", "The service cannot take the request now.",
                           "Critical", "Resubmit the request when the service is available.");
    default:
        return errorObject("GeneralError",
                           "The request could not be handled (HTTP status " +
                               std::to_string(status) + ").",
                           "Critical", "Correct the request and resubmit it.");
    }
}

} // namespace redfisherror

void answerUnauthorized(struct mg_connection* conn) {
    sendAnswer(conn, jsonAnswer(401, "Unauthorized user"));
}

void writeErrorAnswer(struct mg_connection* conn, int status, const std::string& errorJson,
                      const HeaderList& extra) {
    sendAnswer(conn, jsonAnswer(status, errorJson, extra));
}
