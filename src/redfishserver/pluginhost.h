// Loading of the resource plug-in and the log plug-in.
#ifndef TOLVANE_PLUGINHOST_H
#define TOLVANE_PLUGINHOST_H

#include <string>

#include "RedfishPlugin.h"

// Module handle of WebServerAbstractionModule; null until loaded.
extern RedfishModuleHandle gHandleForInstanceOfLibrary;
// Last result of initializeAllPlugins / uninitializeAllPlugins.
extern bool gPluginInitResult;

bool loadLogServicePlugin();
bool loadWebServerPlugin();
// After loadWebServerPlugin failed: what went wrong, in a sentence.
std::string webServerPluginProblem();
void unloadWebServerPlugin();

// Looks an entry point up by name in a loaded module (dlsym / GetProcAddress);
// null when missing or when `module` is null.
void* pluginSymbol(RedfishModuleHandle module, const char* name);

#endif
