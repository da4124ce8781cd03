// The platform's dynamic loader, behind the plug-in host: dlopen on POSIX,
// LoadLibraryA on Windows (pluginhost_win.cpp).
#ifndef TOLVANE_PLUGINLOADER_H
#define TOLVANE_PLUGINLOADER_H

#include <string>

#include "RedfishPlugin.h"

// Loads the library at `path`; null when it cannot be loaded.
RedfishModuleHandle openPluginLibrary(const std::string& path);

// The loader's reason for the last failure of openPluginLibrary, naming the
// file, for diagnostics; empty when it gives none.
std::string pluginLoadError();

#endif
