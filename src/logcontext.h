// A log line's origin carried into shared code, so that the lines of one
// method's road keep naming that method's unit, function and line.
#ifndef TOLVANE_LOGCONTEXT_H
#define TOLVANE_LOGCONTEXT_H

#include "loglines.h"

struct LogContext {
    const char* file;     // source file base name
    const char* function; // qualified function name
    const char* line;     // line number as text
};

// The context of the line it is written on.
#define TOLVANE_LOG_CONTEXT(function)                                                              \
    LogContext {                                                                                   \
        sourceBaseName(__FILE__), function, TOLVANE_STR(__LINE__)                                  \
    }

// REDFISH_LOG with the file, function and line of `context`.
#define REDFISH_LOG_IN(context, level, msg, ...)                                                   \
    do {                                                                                           \
        if (gLogFunction && logtext::levelEnabled(level))                                          \
            logtext::emitLine(gLogFunction, "%s:%s:%s:%s()::[%s]" msg, "REDFISHSERVER",            \
                              (context).file, (context).line, (context).function,                  \
                              LogLevelName(level), ##__VA_ARGS__);                                 \
    } while (0)

#endif
