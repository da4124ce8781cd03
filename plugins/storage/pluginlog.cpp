#include "pluginlog.h"

#include <dlfcn.h>

namespace tolvane::plugin {

std::string escapeControl(const std::string& text) {
    static const char hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (unsigned char ch : text) {
        if (ch >= 0x20 && ch != 0x7f) {
            out += static_cast<char>(ch);
        } else if (ch == '\n') {
            out += "\\n";
        } else if (ch == '\r') {
            out += "\\r";
        } else if (ch == '\t') {
            out += "\\t";
        } else {
            out += "\\u00";
            out += hex[ch >> 4];
            out += hex[ch & 15];
        }
    }
    return out;
}

PluginLog PluginLog::attach(const std::filesystem::path& serverDir) {
    const std::filesystem::path lib = serverDir / "Plugins" / "LogServicePlugin.so";
    void* handle = dlopen(lib.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (!handle)
        return PluginLog();
    auto sink = reinterpret_cast<LogFn>(dlsym(handle, REDFISH_ENTRY_LOG));
    // The server keeps the library loaded for the life of the process; our
    // reference may go.
    dlclose(handle);
    return PluginLog(sink);
}

void PluginLog::error(const char* function, const std::string& message) const {
    write(function, "ERROR", message);
}

void PluginLog::info(const char* function, const std::string& message) const {
    write(function, "INFO", message);
}

void PluginLog::debug(const char* function, const std::string& message) const {
    write(function, "DEBUG", message);
}

void PluginLog::write(const char* function, const char* level, const std::string& message) const {
    if (sink_)
        sink_("%s:%s:%s:%s()::[%s]%s", "WEBSERVERPLUGIN", "storageplugin", "0", function, level,
              escapeControl(message).c_str());
}

} // namespace tolvane::plugin
