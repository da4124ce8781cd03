// Text rules of the POST paths that need no connection: the plug-in URI, the
// upload action argument, answer statuses and header-value safety.
#ifndef TOLVANE_POSTRULES_H
#define TOLVANE_POSTRULES_H

#include <cstdint>
#include <string>
#include <string_view>

#include "jsonadapter.h"

// ASCII case-insensitive search (npos when `word` does not occur) and
// comparison; the GET road and the session table use them too.
size_t findIgnoreCase(std::string_view text, std::string_view word);
bool containsIgnoreCase(std::string_view text, std::string_view word);
bool equalsIgnoreCase(std::string_view a, std::string_view b);

// The URI handed to the plug-in: `path` from its first "/redfish" in any
// letter case (the whole path when it has none).
std::string pluginUriOf(std::string_view path);

// The argument of a JSON POST to an action that takes an uploaded file: the
// body as a JSON object with "absoluteFilePath" set to "" (replaced where it
// stands, else appended), "{}" when the body is not an object, and with
// "logFilePath" set to the server's own when given. Only a file the server stored for the request
// may reach the plug-in, and only the server chooses where the plug-in writes its log.
std::string buildUploadActionArgument(std::string_view body, const std::string* logFilePath);

// Status of an answer built from a plug-in reply: a missing status, or one
// outside 100..599, is a server error (500).
int32_t answerStatus(const json::Value& reply);
bool isAnswerableStatus(int64_t status);

// A header value that could end the header line early is never written.
bool isSafeHeaderValue(std::string_view value);

#endif
