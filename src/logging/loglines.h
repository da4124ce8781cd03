// Operational log lines, handed to the log plug-in's Log entry point as
// "%s:%s:%s:%s()::[%s]" + message, with module tag, source file base name,
// line number as text, qualified function name and level text.
#ifndef TOLVANE_LOGLINES_H
#define TOLVANE_LOGLINES_H

#include "Logger.h"
#include "RedfishPlugin.h"

// The log plug-in's Log entry point; null until the plug-in is loaded.
extern LogFn gLogFunction;

// Base name of a source path (text after the last '/' or '\\').
constexpr const char* sourceBaseName(const char* path) {
    const char* base = path;
    for (const char* p = path; *p; ++p) {
        if (*p == '/' || *p == '\\')
            base = p + 1;
    }
    return base;
}

#define TOLVANE_STR2(x) #x
#define TOLVANE_STR(x) TOLVANE_STR2(x)

#define LOG_LEVEL_ERROR 0
#define LOG_LEVEL_DEBUG 3
#define LOG_LEVEL_TRACE 4

// REDFISH_LOG_AT("Class::function", "502", level, "message %s", args...)
#define REDFISH_LOG_AT(func, linetext, level, msg, ...)                                            \
    do {                                                                                           \
        if (gLogFunction)                                                                          \
            gLogFunction("%s:%s:%s:%s()::[%s]" msg, "REDFISHSERVER", sourceBaseName(__FILE__),     \
                         linetext, func, LogLevelName(level), ##__VA_ARGS__);                      \
    } while (0)

// REDFISH_LOG("Class::function", level, "message %s", args...) with this line.
#define REDFISH_LOG(func, level, msg, ...)                                                         \
    REDFISH_LOG_AT(func, TOLVANE_STR(__LINE__), level, msg, ##__VA_ARGS__)

#endif
