// Log plug-in for fuzzing: formats every line, as a real sink must, so that
// the sanitizers see each format and its arguments, and then drops it, so a
// long run leaves no growing file behind.
#include <cstdarg>
#include <cstdio>

#include "RedfishPlugin.h"

REDFISH_PLUGIN_EXPORT void Log(const char* format, ...) {
    if (!format)
        return;
    char line[8192];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
}
