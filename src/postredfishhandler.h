// Helpers of the POST operations shared by the plain POST, the login and the
// multipart POST (postredfishhandler.cpp).
#ifndef TOLVANE_POSTREDFISHHANDLER_H
#define TOLVANE_POSTREDFISHHANDLER_H

#include <cstdint>
#include <string>

#include "jsonadapter.h"
#include "logcontext.h"

struct mg_connection;
class PluginCalls;

// Answers a POST from the plug-in's reply: plain envelopes, file answers
// (streamed from the named file) and replies that are not JSON objects.
// `log` names the operation's unit, function and line in log lines; with `traceResponse` the
// response trace record "Content Length: %d" follows a successful write.
// A file answer's file is opened before `calls` is released (the open file
// is what is sent, whatever the plug-in's next call does with the name);
// nothing is written before. Returns whether anything was written.
bool writePostAnswer(struct mg_connection* conn, const std::string& reply, const LogContext& log,
                     const char* method, bool traceResponse, PluginCalls& calls);

// The log file the plug-in writes a restore's progress to.
std::string restoreLogFilePath();

// The JSON error body of a refused request: 413, 400 and the like.
void answerRefusedRequest(struct mg_connection* conn, int status);

#endif
