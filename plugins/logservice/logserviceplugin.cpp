#include "RedfishPlugin.h"
#include <cstdarg>
#include <cstdio>

REDFISH_PLUGIN_EXPORT void Log(const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    vfprintf(stderr, format, ap);
    va_end(ap);
    fputc('\n', stderr);
}
