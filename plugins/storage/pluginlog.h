// Operational log lines of the resource plug-in. They go to the log plug-in
// that the server loaded (found beside us in Plugins/), in the server's line
// format with the module tag "WEBSERVERPLUGIN"; without it they are dropped.
#ifndef TOLVANE_PLUGIN_PLUGINLOG_H
#define TOLVANE_PLUGIN_PLUGINLOG_H

#include <filesystem>
#include <string>

#include "RedfishPlugin.h"

namespace tolvane::plugin {

// `text` with every control character escaped ("\\n", "\\r", "\\t", others
// "\\u00XX"), so that request-derived text cannot start or forge a log line.
std::string escapeControl(const std::string& text);

class PluginLog {
  public:
    PluginLog() = default;
    explicit PluginLog(LogFn sink) : sink_(sink) {}
    // Binds to Plugins/LogServicePlugin.so of `serverDir` if the process has
    // it loaded already; never loads it itself.
    static PluginLog attach(const std::filesystem::path& serverDir);

    // The message is written with its control characters escaped.
    void error(const char* function, const std::string& message) const;
    void info(const char* function, const std::string& message) const;
    void debug(const char* function, const std::string& message) const;

  private:
    void write(const char* function, const char* level, const std::string& message) const;
    LogFn sink_ = nullptr;
};

} // namespace tolvane::plugin

#endif
