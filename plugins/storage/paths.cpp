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
    // The configuration is the administrator's file: where a package keeps
    // it elsewhere (/etc) and links it here, the plug-in reads what the server
    // reads. State files are never followed through links.
    const fs::path config = serverDir / "ServerConfiguration.json";
    std::error_code ec;
    const fs::path linkedConfig = fs::canonical(config, ec);
    p.configFile = ec ? config : linkedConfig;
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
    // The folder the server loaded us from, links kept: a server directory
    // that links to a shared copy of the plug-in keeps its own state.
    std::error_code ec;
    const fs::path file = fs::absolute(fs::path(info.dli_fname), ec);
    return ec ? fs::path() : file.lexically_normal().parent_path();
}

} // namespace tolvane::plugin
