#include "redfishserver/installpaths.h"

#include <cstdarg>
#include <cstdio>
#include <string>

namespace {

// The message as text, whatever its length.
std::string formatted(const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (length <= 0)
        return {};
    std::string text(static_cast<size_t>(length) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, args);
    text.resize(static_cast<size_t>(length));
    return text;
}

} // namespace

void WriteOutLog(const char* format, ...) {
    va_list args;
    va_start(args, format);
    const std::string text = formatted(format, args);
    va_end(args);
    std::FILE* file = std::fopen(gOutLogPath, "a");
    bool written = false;
    if (file) {
        written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
        written = std::fflush(file) == 0 && written;
        written = std::fclose(file) == 0 && written;
    }
    // A log that cannot be written (a full disk, a removed directory) must not
    // swallow the reason for a failed start: standard error reaches the
    // console or the service manager's journal.
    if (!written)
        std::fprintf(stderr, "%s (RedfishServer.out.log cannot be written)\n%s", gOutLogPath,
                     text.c_str());
}
