// Operational log lines, handed to the log plug-in's Log entry point as
// "%s:%s:%s:%s()::[%s]" + message, with module tag, source file base name,
// line number as text, qualified function name and level text. Text
// arguments are written with their control characters escaped (logescape.h),
// so no argument can start a line of its own; the format's own text,
// its closing line feed included, is handed on as it is. A line whose level
// the RedfishDebugMask setting drops is decided before its arguments are
// evaluated: it costs neither formatting nor I/O.
#ifndef TOLVANE_LOGLINES_H
#define TOLVANE_LOGLINES_H

#include "Logger.h"
#include "RedfishPlugin.h"
#include "logescape.h"

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

namespace logtext {

// A log line argument as handed to the log plug-in: numbers as they are,
// texts escaped.
template <class T> class LogArgument {
  public:
    explicit LogArgument(T value) : value_(value) {}
    T get() const { return value_; }

  private:
    T value_;
};

template <> class LogArgument<const char*> {
  public:
    explicit LogArgument(const char* text) : text_(text) {}
    const char* get() const { return text_.c_str(); }

  private:
    Escaped text_;
};

template <> class LogArgument<char*> : public LogArgument<const char*> {
  public:
    explicit LogArgument(char* text) : LogArgument<const char*>(text) {}
};

// The escaped copies live until the call returns.
template <class... Args> void emitLine(LogFn log, const char* format, Args... args) {
    log(format, LogArgument<Args>(args).get()...);
}

} // namespace logtext

#define TOLVANE_STR2(x) #x
#define TOLVANE_STR(x) TOLVANE_STR2(x)

#define LOG_LEVEL_ERROR 0
#define LOG_LEVEL_INFO 1
#define LOG_LEVEL_DEBUG 3
#define LOG_LEVEL_TRACE 4

namespace logtext {
// ERROR and INFO lines are always written; DEBUG lines at settings 3 and 4,
// TRACE lines at 4. Every request writes DEBUG lines, so the shipped setting
// keeps them out of the file a client could otherwise fill.
bool levelEnabled(int level);
} // namespace logtext

// REDFISH_LOG_AT("Class::function", "502", level, "message %s", args...)
#define REDFISH_LOG_AT(func, linetext, level, msg, ...)                                            \
    do {                                                                                           \
        if (gLogFunction && logtext::levelEnabled(level))                                          \
            logtext::emitLine(gLogFunction, "%s:%s:%s:%s()::[%s]" msg, "REDFISHSERVER",            \
                              sourceBaseName(__FILE__), linetext, func, LogLevelName(level),       \
                              ##__VA_ARGS__);                                                      \
    } while (0)

// REDFISH_LOG("Class::function", level, "message %s", args...) with this line.
#define REDFISH_LOG(func, level, msg, ...)                                                         \
    REDFISH_LOG_AT(func, TOLVANE_STR(__LINE__), level, msg, ##__VA_ARGS__)

#endif
