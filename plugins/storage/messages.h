// Redfish messages of the Base registry and the error payloads built from
// them. Handlers report a failed request by throwing RedfishError, which the
// router turns into a reply with the status and the error object.
#ifndef TOLVANE_PLUGIN_MESSAGES_H
#define TOLVANE_PLUGIN_MESSAGES_H

#include <stdexcept>
#include <string>
#include <vector>

#include "json.h"

namespace tolvane::plugin {

// Version of the Base registry whose message ids the plug-in uses.
extern const char* const kBaseRegistry; // "Base.1.22.1"

// One message object ("@odata.type" Message, "MessageId", "Message",
// "MessageArgs", "MessageSeverity", "Resolution", "RelatedProperties").
// `relatedProperty` is a JSON pointer such as "#/RAIDType", or "".
Json makeMessage(const std::string& id, const std::vector<std::string>& args = {},
                 const std::string& relatedProperty = "");

// Version of the task event registry, and one of its messages about the task
// `taskId`: "TaskStarted", "TaskCompletedOK", "TaskAborted", "TaskCancelled".
extern const char* const kTaskRegistry; // "TaskEvent.1.0.5"
Json makeTaskMessage(const std::string& id, const std::string& taskId);

// The StorageDevice registry's warning that a drive predicts its failure.
Json driveFailurePredicted(const std::string& driveUri);

// {"error": {"code", "message", "@Message.ExtendedInfo": [...]}} for one or
// more message objects; code and message come from the first one.
Json errorPayload(const std::vector<Json>& messages);

// {"@Message.ExtendedInfo": [Success]}: the body of actions and deletes;
// `detail` is added to the message text.
Json successPayload();
Json successPayload(const std::string& detail);

class RedfishError : public std::runtime_error {
  public:
    RedfishError(int status, Json messageObject);
    RedfishError(int status, std::vector<Json> messageObjects);
    int status() const { return status_; }
    Json payload() const { return errorPayload(messages_); }
    const std::vector<Json>& messages() const { return messages_; }
    // Adds a plain explanation to the first message's text.
    RedfishError& withDetail(const std::string& detail);

  private:
    int status_;
    std::vector<Json> messages_;
};

// The errors the plug-in answers, each with its usual status.
namespace errors {
RedfishError resourceNotFound(const std::string& type, const std::string& name); // 404
RedfishError resourceMissingAtUri(const std::string& uri);                       // 404
RedfishError invalidUri(const std::string& uri);                                 // 400
RedfishError operationNotAllowed();                                              // 405
RedfishError malformedJson();                                                    // 400
RedfishError unrecognizedRequestBody();                                          // 400
RedfishError propertyMissing(const std::string& property);                       // 400
RedfishError propertyUnknown(const std::string& property);                       // 400
RedfishError propertyNotWritable(const std::string& property);                   // 400
RedfishError propertyValueTypeError(const std::string& value, const std::string& property);
RedfishError propertyValueNotInList(const std::string& value, const std::string& property);
RedfishError propertyValueOutOfRange(const std::string& value, const std::string& property);
RedfishError propertyValueFormatError(const std::string& value, const std::string& property);
RedfishError propertyValueConflict(const std::string& property, const std::string& other); // 400
RedfishError stringValueTooLong(const std::string& value, const std::string& property, int limit);
RedfishError propertyValueResourceConflict(const std::string& property, const std::string& value,
                                           const std::string& uri); // 409
RedfishError noOperation();                                         // 400
RedfishError resourceInUse(const std::string& property = "");       // 409
RedfishError resourceAlreadyExists(const std::string& type, const std::string& property,
                                   const std::string& value); // 409
RedfishError resourceCannotBeDeleted();                       // 409
RedfishError actionNotSupported(const std::string& action);   // 400
RedfishError actionParameterMissing(const std::string& action, const std::string& parameter);
RedfishError actionParameterValueError(const std::string& parameter, const std::string& action);
RedfishError actionParameterValueNotInList(const std::string& value, const std::string& parameter,
                                           const std::string& action);
RedfishError actionParameterValueFormatError(const std::string& value, const std::string& parameter,
                                             const std::string& action);
RedfishError actionParameterUnknown(const std::string& action, const std::string& parameter);
RedfishError invalidObject(const std::string& what);              // 400
RedfishError resourceExhaustion(const std::string& resource);     // 409
RedfishError loginFailed(const std::string& uri);                 // 401
RedfishError insufficientPrivilege();                             // 403
RedfishError internalError();                                     // 500
RedfishError serviceUnavailable();                                // 503
RedfishError serviceShuttingDown();                               // 503
RedfishError couldNotEstablishConnection(const std::string& uri); // 400
RedfishError operationTimeout();                                  // 400
} // namespace errors

// Text of a JSON value for a message argument: strings without quotes, other
// values as compact JSON.
std::string argumentText(const Json& value);

} // namespace tolvane::plugin

#endif
