// The standard profile's road: every answer, the engine's own error answers
// included, leaves through the standard answer writer.
#ifndef TOLVANE_STANDARDROAD_H
#define TOLVANE_STANDARDROAD_H

struct mg_connection;

// The engine's error answer callback (a request it could not parse, a path
// no handler takes, a method it does not implement): a Redfish error object.
// Returns 0: answered.
int answerEngineError(struct mg_connection* conn, int status, const char* message);

// Makes the engine answer 501 to a method it does not know (else 400).
void answerUnknownMethodsNotImplemented();

#endif
