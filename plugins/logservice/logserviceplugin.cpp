// The log plug-in's entry point. The server calls Log from any thread and
// takes no lock for it; LogSink serialises the writes.
#include <cstdarg>
#include <cstdio>
#include <memory>
#include <string>

#include <dlfcn.h>

#include "RedfishPlugin.h"
#include "logsink.h"

namespace {

std::filesystem::path pluginDirectory() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&pluginDirectory), &info) == 0 || !info.dli_fname)
        return std::filesystem::current_path();
    std::error_code ec;
    auto path = std::filesystem::canonical(info.dli_fname, ec);
    return ec ? std::filesystem::path(info.dli_fname).parent_path() : path.parent_path();
}

tolvane::logservice::LogSink& sink() {
    // Built on first use, thread-safe by the language; lives until exit.
    static tolvane::logservice::LogSink instance(
        tolvane::logservice::logDirectoryFor(pluginDirectory()));
    return instance;
}

} // namespace

REDFISH_PLUGIN_EXPORT void Log(const char* format, ...) {
    if (!format)
        return;
    try {
        va_list args;
        va_start(args, format);
        va_list copy;
        va_copy(copy, args);
        // Nearly every line fits here, so it costs no allocation.
        char small[1024];
        int n = std::vsnprintf(small, sizeof(small), format, args);
        va_end(args);
        if (n < 0) {
            va_end(copy);
            return;
        }
        if (static_cast<size_t>(n) < sizeof(small)) {
            va_end(copy);
            sink().write(small, static_cast<size_t>(n));
            return;
        }
        std::string text(static_cast<size_t>(n) + 1, '\0');
        std::vsnprintf(text.data(), text.size(), format, copy);
        va_end(copy);
        text.resize(static_cast<size_t>(n));
        sink().write(text);
    } catch (...) {
        // A log line is never worth a crash.
    }
}
