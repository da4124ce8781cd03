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
        char small[512];
        int n = std::vsnprintf(small, sizeof(small), format, args);
        va_end(args);
        std::string text;
        if (n < 0) {
            va_end(copy);
            return;
        }
        if (static_cast<size_t>(n) < sizeof(small)) {
            text.assign(small, static_cast<size_t>(n));
        } else {
            text.resize(static_cast<size_t>(n) + 1);
            std::vsnprintf(text.data(), text.size(), format, copy);
            text.resize(static_cast<size_t>(n));
        }
        va_end(copy);
        sink().write(text);
    } catch (...) {
        // A log line is never worth a crash.
    }
}
