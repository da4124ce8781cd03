#include "paths.h"

#include <cstdlib>

#include <dlfcn.h>

namespace tolvane::plugin {

namespace fs = std::filesystem;

PluginPaths PluginPaths::forServerDirectory(const fs::path& serverDir) {
    PluginPaths p;
    p.serverDir = serverDir;
    p.stateFile = serverDir / "PluginState.json";
    p.accountsFile = serverDir / "Accounts.json";
    p.subscriptionsFile = serverDir / "EventSubscriptions.json";
    p.adminPasswordFile = serverDir / "InitialAdminPassword.txt";
    p.backupFile = serverDir / "ConfigurationBackup.json";
    p.tasksFile = serverDir / "Tasks.json";
    p.configFile = serverDir / "ServerConfiguration.json";
    p.uploadsDir = serverDir / "uploads";
    p.incomingUploadsDir = serverDir / "uploads-incoming";
    const char* env = std::getenv("TOLVANE_LOG_DIR");
    if (env && *env)
        p.logDir = fs::path(env);
    else
        p.logDir = serverDir.parent_path() / "logs";
    return p;
}

fs::path ownModuleDirectory() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&ownModuleDirectory), &info) == 0 || !info.dli_fname)
        return {};
    std::error_code ec;
    fs::path file = fs::canonical(fs::path(info.dli_fname), ec);
    if (ec)
        file = fs::absolute(fs::path(info.dli_fname), ec);
    return file.parent_path();
}

} // namespace tolvane::plugin
