// The log plug-in's entry point. The server calls Log from any thread and
// takes no lock for it; LogSink serialises the writes.
#include <cstdarg>
#include <cstdio>
#include <memory>
#include <string>

#include <dlfcn.h>

#include "RedfishPlugin.h"
#include "lineformat.h"
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
        // One buffer per thread, kept between lines, so a line costs no
        // allocation.
        thread_local std::string line;
        line.clear();
        va_list args;
        va_start(args, format);
        tolvane::logservice::formatLine(line, format, args);
        va_end(args);
        sink().write(line.data(), line.size());
        // A rare long line does not keep its memory for good.
        if (line.capacity() > 64 * 1024)
            std::string().swap(line);
    } catch (...) {
        // A log line is never worth a crash.
    }
}
