// Where the plug-in keeps its files. The server directory is the folder the
// server loaded the plug-in's shared library from; everything else follows
// from it.
#ifndef TOLVANE_PLUGIN_PATHS_H
#define TOLVANE_PLUGIN_PATHS_H

#include <filesystem>

namespace tolvane::plugin {

struct PluginPaths {
    std::filesystem::path serverDir;
    std::filesystem::path stateFile;         // PluginState.json: storage model
    std::filesystem::path accountsFile;      // Accounts.json: accounts with password hashes
    std::filesystem::path subscriptionsFile; // EventSubscriptions.json
    std::filesystem::path adminPasswordFile; // InitialAdminPassword.txt
    std::filesystem::path backupFile;        // ConfigurationBackup.json: the last export
    std::filesystem::path tasksFile;         // Tasks.json: running and recent tasks
    std::filesystem::path configFile;        // ServerConfiguration.json: the plug-in's settings too
    std::filesystem::path uploadsDir;        // where the server stores uploaded files
    // Where a server that calls us overlapping receives them: one directory
    // per request below it, and the file in there is what we are handed.
    std::filesystem::path incomingUploadsDir; // uploads-incoming
    std::filesystem::path logDir;             // $TOLVANE_LOG_DIR, else <server dir>/../logs

    static PluginPaths forServerDirectory(const std::filesystem::path& serverDir);
};

// The folder of the shared object (or program) holding this code, found with
// dladdr, as the loader was given it (symbolic links not resolved); empty
// when it cannot be told.
std::filesystem::path ownModuleDirectory();

} // namespace tolvane::plugin

#endif
