// The server's own error answers, as Redfish error objects whose messages
// come from the DMTF Base registry (MessageId, severity, resolution).
#ifndef TOLVANE_REDFISHERRORS_H
#define TOLVANE_REDFISHERRORS_H

#include <string>

#include "answer/answer.h"

struct mg_connection;

namespace redfisherror {

// The JSON text {"error":{"code","message","@Message.ExtendedInfo":[...]}}.
// The body of a request that succeeded with nothing else to say.
std::string success();
std::string insufficientPrivilege();
std::string sessionLimitExceeded();
std::string invalidUri(const std::string& uri);
std::string crossSiteRequestRefused();
std::string noValidSession();
std::string headerInvalid(const std::string& header);
std::string tooManyFailedLogins(long long retryAfterSeconds);
std::string preconditionFailed();
std::string operationNotAllowed();
std::string queryParameterUnsupported(const std::string& name);
// A paging option whose value is not a count.
std::string queryParameterValueFormatError(const std::string& value, const std::string& name);
// A login whose role the server does not let act; `role` names it.
std::string restrictedRole(const std::string& role);
// Bad request bodies: `value` as the client wrote it, `property` by name.
std::string malformedJson();
std::string propertyUnknown(const std::string& property);
std::string propertyNotWritable(const std::string& property);
std::string propertyValueTypeError(const std::string& value, const std::string& property);
std::string propertyValueOutOfRange(const std::string& value, const std::string& property);
// Bad action parameters: `action` as "GenerateCSR", `parameter` by name;
// `reason` says what is wrong with the value.
std::string actionParameterMissing(const std::string& action, const std::string& parameter);
std::string actionParameterNotSupported(const std::string& parameter, const std::string& action);
std::string actionParameterValueTypeError(const std::string& value, const std::string& parameter,
                                          const std::string& action);
std::string actionParameterValueError(const std::string& parameter, const std::string& action,
                                      const std::string& reason);
// The error of a status the server answers without a more specific one
// (GeneralError for any status the table does not name); `uri` is the
// request's path, named by the 404 message.
std::string forStatus(int status, const std::string& uri);

} // namespace redfisherror

// 401 with the body "Unauthorized user" (a standard answer gives the
// registry's error object instead).
void answerUnauthorized(struct mg_connection* conn);

// Answers `status` with the error object and any `extra` header fields.
void writeErrorAnswer(struct mg_connection* conn, int status, const std::string& errorJson,
                      const HeaderList& extra = {});

#endif
