#include "redfishserver/installpaths.h"

#include <cstdarg>
#include <cstdio>

void WriteOutLog(const char* format, ...) {
    std::FILE* file = std::fopen(gOutLogPath, "a");
    if (!file)
        return;
    va_list args;
    va_start(args, format);
    std::vfprintf(file, format, args);
    va_end(args);
    std::fflush(file);
    std::fclose(file);
}
