// Test log plug-in: appends every Log line, formatted, to the file named by
// $CAPTURE_LOG_FILE (one line per call).
#include "RedfishPlugin.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

namespace {
std::mutex gCaptureMutex;
}

REDFISH_PLUGIN_EXPORT void Log(const char* format, ...) {
    const char* path = std::getenv("CAPTURE_LOG_FILE");
    if (!path || !*path)
        return;
    va_list ap;
    va_start(ap, format);
    va_list copy;
    va_copy(copy, ap);
    int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string line;
    if (n > 0) {
        line.resize(static_cast<size_t>(n) + 1);
        std::vsnprintf(&line[0], line.size(), format, ap);
        line.resize(static_cast<size_t>(n));
    }
    va_end(ap);
    std::lock_guard<std::mutex> lock(gCaptureMutex);
    if (FILE* f = std::fopen(path, "a")) {
        std::fputs(line.c_str(), f);
        if (line.empty() || line.back() != '\n')
            std::fputc('\n', f);
        std::fclose(f);
    }
}
