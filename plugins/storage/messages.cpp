#include "messages.h"

#include <utility>

namespace tolvane::plugin {

const char* const kBaseRegistry = "Base.1.22.1";

namespace {

struct MessageText {
    const char* id;
    const char* text; // %1, %2, ... stand for the arguments
    const char* severity;
    const char* resolution;
};

// Our own wording for the Base registry messages the plug-in uses.
const MessageText kMessages[] = {
    {"Success", "The request was carried out.", "OK", "None."},
    {"Created", "The resource was created.", "OK", "None."},
    {"ResourceNotFound", "No resource of type %1 with the name '%2' exists.", "Critical",
     "Use the identifier of an existing resource."},
    {"ResourceMissingAtURI", "Nothing exists at the URI '%1'.", "Critical",
     "Correct the URI and send the request again."},
    {"InvalidURI", "The URI '%1' cannot be used.", "Critical",
     "Send the path of a resource, without query, fragment or control characters."},
    {"OperationNotAllowed", "This resource does not accept the HTTP method used.", "Critical",
     "Use a method that the resource supports."},
    {"MalformedJSON", "The request body is not valid JSON.", "Critical",
     "Send a well-formed JSON object."},
    {"UnrecognizedRequestBody", "The request body could not be understood.", "Warning",
     "Send a JSON object as the request body."},
    {"PropertyMissing", "The request must include the property %1.", "Warning",
     "Add the property with a valid value and send the request again."},
    {"PropertyUnknown", "The property %1 is not known to this resource.", "Warning",
     "Remove the property and send the request again."},
    {"PropertyNotWritable", "The property %1 cannot be changed.", "Warning",
     "Remove the property and send the request again."},
    {"PropertyValueTypeError", "The value '%1' has the wrong type for the property %2.", "Warning",
     "Give the property a value of the right type."},
    {"PropertyValueNotInList", "The value '%1' is not one of the allowed values of %2.", "Warning",
     "Choose one of the allowed values."},
    {"PropertyValueOutOfRange", "The value '%1' of the property %2 is outside the supported range.",
     "Warning", "Give a value within the supported range."},
    {"PropertyValueFormatError", "The value '%1' of the property %2 has an unsupported format.",
     "Warning", "Give the value in the expected format."},
    {"PropertyValueConflict",
     "The property '%1' cannot take this value because of the property '%2'.", "Warning",
     "Change the conflicting setting first."},
    {"StringValueTooLong", "The text '%1' is longer than %2 characters.", "Warning",
     "Send a shorter text."},
    {"PropertyValueResourceConflict",
     "The property '%1' cannot take the value '%2' because of the state of the resource at '%3'.",
     "Warning", "Choose another value or change the other resource first."},
    {"NoOperation", "The request body holds nothing to change.", "Warning",
     "Include at least one writable property."},
    {"ResourceInUse", "The resource is in use and cannot be changed this way.", "Warning",
     "Release the resource first, then send the request again."},
    {"ResourceAlreadyExists", "A resource of type %1 with %2 '%3' exists already.", "Critical",
     "Choose another value or change the existing resource."},
    {"ResourceCannotBeDeleted", "This resource cannot be deleted.", "Critical",
     "Do not try to delete this resource."},
    {"ActionNotSupported", "The action %1 is not supported by this resource.", "Critical",
     "Use one of the actions listed in the resource's Actions property."},
    {"ActionParameterMissing", "The action %1 needs the parameter %2.", "Critical",
     "Supply the parameter and invoke the action again."},
    {"ActionParameterValueError", "The value of the parameter %1 of the action %2 is not valid.",
     "Warning", "Correct the parameter and invoke the action again."},
    {"ActionParameterValueNotInList",
     "The value '%1' of the parameter %2 of the action %3 is not one of the allowed values.",
     "Warning", "Choose one of the allowed values."},
    {"ActionParameterValueFormatError",
     "The value '%1' of the parameter %2 of the action %3 has an unsupported format.", "Warning",
     "Give the parameter in the expected format."},
    {"ActionParameterUnknown", "The action %1 does not take the parameter %2.", "Warning",
     "Remove the parameter and invoke the action again."},
    {"InvalidObject", "The object '%1' is not valid.", "Critical",
     "Correct the object and send the request again."},
    {"ResourceExhaustion", "The resource '%1' has no room for this request.", "Critical",
     "Free some room and send the request again."},
    {"ResourceAtUriUnauthorized", "Access to '%1' was refused: %2.", "Critical",
     "Give a valid user name and password."},
    {"InternalError", "The service failed internally; it keeps running.", "Critical",
     "Send the request again; reset the service if the problem stays."},
    {"ServiceTemporarilyUnavailable",
     "The service is not available at the moment; retry in %1 seconds.", "Critical",
     "Wait and send the request again."},
    {"ServiceShuttingDown", "The operation ended because the service stopped.", "Critical",
     "Send the request again once the service runs."},
    {"CouldNotEstablishConnection", "No connection could be made to '%1'.", "Critical",
     "Check that the URI names a reachable server that this service may use."},
    {"OperationTimeout", "The operation took longer than the service allows.", "Warning",
     "Send the request again, with a source that answers faster."},
};

// Messages of the task event registry, in our own wording.
const MessageText kTaskMessages[] = {
    {"TaskStarted", "The task %1 has started.", "OK", "None."},
    {"TaskCompletedOK", "The task %1 has completed.", "OK", "None."},
    {"TaskAborted", "The task %1 has ended with errors.", "Critical",
     "Look at the task's other messages, correct the cause and start the operation again."},
    {"TaskCancelled", "The task %1 was stopped before it completed, as requested.", "Warning",
     "None."},
};

template <size_t N>
const MessageText& lookup(const MessageText (&table)[N], const std::string& id) {
    for (const auto& m : table) {
        if (id == m.id)
            return m;
    }
    static const MessageText general{"GeneralError", "An error occurred.", "Critical", "None."};
    return general;
}

std::string fill(const char* text, const std::vector<std::string>& args) {
    std::string out;
    for (const char* p = text; *p; ++p) {
        if (*p == '%' && p[1] >= '1' && p[1] <= '9') {
            size_t index = static_cast<size_t>(p[1] - '1');
            out += index < args.size() ? args[index] : std::string();
            ++p;
        } else {
            out += *p;
        }
    }
    return out;
}

Json buildMessage(const char* registry, const MessageText& m, const std::vector<std::string>& args,
                  const std::string& relatedProperty) {
    Json msg = Json::object();
    msg["@odata.type"] = "#Message.v1_3_0.Message";
    msg["MessageId"] = std::string(registry) + "." + m.id;
    msg["Message"] = fill(m.text, args);
    msg["MessageArgs"] = args;
    msg["MessageSeverity"] = m.severity;
    msg["Resolution"] = m.resolution;
    if (!relatedProperty.empty())
        msg["RelatedProperties"] = Json::array({relatedProperty});
    return msg;
}

} // namespace

const char* const kTaskRegistry = "TaskEvent.1.0.5";

Json makeTaskMessage(const std::string& id, const std::string& taskId) {
    return buildMessage(kTaskRegistry, lookup(kTaskMessages, id), {taskId}, "");
}

std::string argumentText(const Json& value) {
    return value.is_string() ? value.get<std::string>() : value.dump();
}

Json makeMessage(const std::string& id, const std::vector<std::string>& args,
                 const std::string& relatedProperty) {
    return buildMessage(kBaseRegistry, lookup(kMessages, id), args, relatedProperty);
}

Json driveFailurePredicted(const std::string& driveUri) {
    static const MessageText predicted{
        "DrivePredictiveFailure", "The drive at '%1' predicts its failure.", "Warning",
        "Replace the drive and rebuild the volume onto its successor."};
    return buildMessage("StorageDevice.1.5.1", predicted, {driveUri}, "");
}

Json errorPayload(const std::vector<Json>& messages) {
    Json error = Json::object();
    if (messages.empty()) {
        Json general = makeMessage("GeneralError");
        error["code"] = general["MessageId"];
        error["message"] = general["Message"];
        error["@Message.ExtendedInfo"] = Json::array({general});
    } else {
        error["code"] = messages.front()["MessageId"];
        error["message"] = messages.front()["Message"];
        error["@Message.ExtendedInfo"] = messages;
    }
    return Json{{"error", error}};
}

Json successPayload() {
    return Json{{"@Message.ExtendedInfo", Json::array({makeMessage("Success")})}};
}

Json successPayload(const std::string& detail) {
    Json j = successPayload();
    j["@Message.ExtendedInfo"][0]["Message"] =
        j["@Message.ExtendedInfo"][0]["Message"].get<std::string>() + " " + detail;
    return j;
}

RedfishError::RedfishError(int status, Json messageObject)
    : RedfishError(status, std::vector<Json>{std::move(messageObject)}) {}

RedfishError::RedfishError(int status, std::vector<Json> messageObjects)
    : std::runtime_error(messageObjects.empty()
                             ? std::string("GeneralError")
                             : messageObjects.front()["MessageId"].get<std::string>()),
      status_(status), messages_(std::move(messageObjects)) {}

RedfishError& RedfishError::withDetail(const std::string& detail) {
    if (!messages_.empty() && !detail.empty())
        messages_.front()["Message"] =
            messages_.front()["Message"].get<std::string>() + " " + detail;
    return *this;
}

namespace errors {

namespace {
std::string pointer(const std::string& property) {
    return property.empty() ? std::string() : "#/" + property;
}
} // namespace

RedfishError resourceNotFound(const std::string& type, const std::string& name) {
    return {404, makeMessage("ResourceNotFound", {type, name})};
}
RedfishError resourceMissingAtUri(const std::string& uri) {
    return {404, makeMessage("ResourceMissingAtURI", {uri})};
}
RedfishError invalidUri(const std::string& uri) {
    return {400, makeMessage("InvalidURI", {uri})};
}
RedfishError operationNotAllowed() {
    return {405, makeMessage("OperationNotAllowed")};
}
RedfishError malformedJson() {
    return {400, makeMessage("MalformedJSON")};
}
RedfishError unrecognizedRequestBody() {
    return {400, makeMessage("UnrecognizedRequestBody")};
}
RedfishError propertyMissing(const std::string& property) {
    return {400, makeMessage("PropertyMissing", {property}, pointer(property))};
}
RedfishError propertyUnknown(const std::string& property) {
    return {400, makeMessage("PropertyUnknown", {property}, pointer(property))};
}
RedfishError propertyNotWritable(const std::string& property) {
    return {400, makeMessage("PropertyNotWritable", {property}, pointer(property))};
}
RedfishError propertyValueTypeError(const std::string& value, const std::string& property) {
    return {400, makeMessage("PropertyValueTypeError", {value, property}, pointer(property))};
}
RedfishError propertyValueNotInList(const std::string& value, const std::string& property) {
    return {400, makeMessage("PropertyValueNotInList", {value, property}, pointer(property))};
}
RedfishError propertyValueOutOfRange(const std::string& value, const std::string& property) {
    return {400, makeMessage("PropertyValueOutOfRange", {value, property}, pointer(property))};
}
RedfishError propertyValueFormatError(const std::string& value, const std::string& property) {
    return {400, makeMessage("PropertyValueFormatError", {value, property}, pointer(property))};
}
RedfishError propertyValueConflict(const std::string& property, const std::string& other) {
    return {400, makeMessage("PropertyValueConflict", {property, other}, pointer(property))};
}
RedfishError stringValueTooLong(const std::string& value, const std::string& property, int limit) {
    return {400,
            makeMessage("StringValueTooLong", {value, std::to_string(limit)}, pointer(property))};
}
RedfishError propertyValueResourceConflict(const std::string& property, const std::string& value,
                                           const std::string& uri) {
    return {409, makeMessage("PropertyValueResourceConflict", {property, value, uri},
                             pointer(property))};
}
RedfishError noOperation() {
    return {400, makeMessage("NoOperation")};
}
RedfishError resourceInUse(const std::string& property) {
    return {409, makeMessage("ResourceInUse", {}, pointer(property))};
}
RedfishError resourceAlreadyExists(const std::string& type, const std::string& property,
                                   const std::string& value) {
    return {409, makeMessage("ResourceAlreadyExists", {type, property, value}, pointer(property))};
}
RedfishError resourceCannotBeDeleted() {
    return {409, makeMessage("ResourceCannotBeDeleted")};
}
RedfishError actionNotSupported(const std::string& action) {
    return {400, makeMessage("ActionNotSupported", {action})};
}
RedfishError actionParameterMissing(const std::string& action, const std::string& parameter) {
    return {400, makeMessage("ActionParameterMissing", {action, parameter})};
}
RedfishError actionParameterValueError(const std::string& parameter, const std::string& action) {
    return {400, makeMessage("ActionParameterValueError", {parameter, action})};
}
RedfishError actionParameterValueNotInList(const std::string& value, const std::string& parameter,
                                           const std::string& action) {
    return {400, makeMessage("ActionParameterValueNotInList", {value, parameter, action})};
}
RedfishError actionParameterValueFormatError(const std::string& value, const std::string& parameter,
                                             const std::string& action) {
    return {400, makeMessage("ActionParameterValueFormatError", {value, parameter, action})};
}
RedfishError actionParameterUnknown(const std::string& action, const std::string& parameter) {
    return {400, makeMessage("ActionParameterUnknown", {action, parameter})};
}
RedfishError invalidObject(const std::string& what) {
    return {400, makeMessage("InvalidObject", {what})};
}
RedfishError resourceExhaustion(const std::string& resource) {
    return {409, makeMessage("ResourceExhaustion", {resource})};
}
RedfishError loginFailed(const std::string& uri) {
    return {401, makeMessage("ResourceAtUriUnauthorized", {uri, "invalid user name or password"})};
}
RedfishError internalError() {
    return {500, makeMessage("InternalError")};
}
RedfishError insufficientPrivilege() {
    return {403, makeMessage("InsufficientPrivilege")};
}
RedfishError serviceUnavailable() {
    return {503, makeMessage("ServiceTemporarilyUnavailable", {"5"})};
}
RedfishError serviceShuttingDown() {
    return {503, makeMessage("ServiceShuttingDown")};
}
RedfishError couldNotEstablishConnection(const std::string& uri) {
    return {400, makeMessage("CouldNotEstablishConnection", {uri})};
}
RedfishError operationTimeout() {
    return {400, makeMessage("OperationTimeout")};
}

} // namespace errors
} // namespace tolvane::plugin
