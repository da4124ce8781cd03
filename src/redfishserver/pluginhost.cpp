// Loading of the two plug-ins, the resource plug-in's start and stop calls,
// and the POSIX loader (dlopen) behind them.
#include "pluginhost.h"

#include <cstdio>
#include <string>

#include "civetweb.h"
#include "installpaths.h"
#include "loglines.h"
#include "pluginloader.h"
#include "routes/declaredresources.h"
#include "stoprequest.h"

#if !defined(_WIN32)
#include <dlfcn.h>
#endif

LogFn gLogFunction = nullptr;
RedfishModuleHandle gHandleForInstanceOfLibrary = nullptr;
bool gPluginInitResult = false;

namespace {

// The host opens the file first so that "missing" and "not loadable" are told
// apart in the messages.
bool fileReadable(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return false;
    std::fclose(f);
    return true;
}

std::string logPluginPath() {
    return serverDirectory() + "Plugins" TOLVANE_PATH_SEP "LogServicePlugin" TOLVANE_PLUGIN_SUFFIX;
}

std::string webServerPluginPath() {
    return serverDirectory() + "WebServerAbstractionModule" TOLVANE_PLUGIN_SUFFIX;
}

// Why the resource plug-in did not start, for the output log.
std::string gPluginProblem;

// The loader's reason goes to standard error, apart from the fixed messages.
void reportLoadError() {
    std::string reason = pluginLoadError();
    if (!reason.empty())
        std::fprintf(stderr, "%s\n", reason.c_str());
}

} // namespace

bool loadLogServicePlugin() {
    const std::string path = logPluginPath();
    if (!fileReadable(path))
        return false;
    RedfishModuleHandle module = openPluginLibrary(path);
    if (!module) {
        reportLoadError();
        return false;
    }
    // The module handle is not kept: the library stays loaded for the life of
    // the process.
    auto log = reinterpret_cast<LogFn>(pluginSymbol(module, REDFISH_ENTRY_LOG));
    if (!log)
        return false;
    gLogFunction = log;
    return true;
}

bool loadWebServerPlugin() {
    const std::string path = webServerPluginPath();
    if (!fileReadable(path)) {
        std::printf("Failed in initializing Webserver plugin\n");
        gPluginProblem = "The resource plug-in " + path + " is missing or cannot be read";
        return false;
    }
    gHandleForInstanceOfLibrary = openPluginLibrary(path);
    if (!gHandleForInstanceOfLibrary) {
        std::printf("NULL gHandleForInstanceOfLibrary\n");
        reportLoadError();
        gPluginProblem = "The resource plug-in " + path + " cannot be loaded: " + pluginLoadError();
        return false;
    }
    // A library without initializeAllPlugins cannot have been initialised.
    auto init = reinterpret_cast<PluginInitFn>(
        pluginSymbol(gHandleForInstanceOfLibrary, REDFISH_ENTRY_INITIALIZE));
    gPluginInitResult = init ? init(gHandleForInstanceOfLibrary) : false;
    if (!init)
        gPluginProblem = "The resource plug-in " + path + " has no " REDFISH_ENTRY_INITIALIZE;
    else if (!gPluginInitResult)
        gPluginProblem = "The resource plug-in " + path +
                         " could not initialise; its reason is on standard error and in "
                         "RedfishServer.log";
    if (!gPluginInitResult)
        return false;
    auto describe = reinterpret_cast<DescribeResourcesFn>(
        pluginSymbol(gHandleForInstanceOfLibrary, REDFISH_ENTRY_DESCRIBE));
    const char* description = describe ? describe() : nullptr;
    if (description && !adoptDeclaredResources(description))
        WriteOutLog("The resource plug-in's " REDFISH_ENTRY_DESCRIBE
                    " gave no description; the built-in tables apply\n");
    return true;
}

std::string webServerPluginProblem() {
    return gPluginProblem;
}

void unloadWebServerPlugin() {
    if (!gHandleForInstanceOfLibrary) {
        std::printf("NULL gHandleForInstanceOfLibrary\n");
    } else {
        auto uninit = reinterpret_cast<PluginUninitFn>(
            pluginSymbol(gHandleForInstanceOfLibrary, REDFISH_ENTRY_UNINITIALIZE));
        if (uninit)
            gPluginInitResult = uninit(gHandleForInstanceOfLibrary);
    }
    forgetDeclaredResources();
    // Does nothing when the library was never initialised in this process.
    mg_exit_library();
    gStopRequested.store(true, std::memory_order_release);
}

#if !defined(_WIN32)

namespace {
std::string gLastLoadError;
}

RedfishModuleHandle openPluginLibrary(const std::string& path) {
    // Bind everything now: a plug-in with unresolved symbols fails here rather
    // than in the middle of a request.
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        const char* reason = dlerror();
        gLastLoadError = reason ? reason : "";
    }
    return module;
}

std::string pluginLoadError() {
    return gLastLoadError;
}

void* pluginSymbol(RedfishModuleHandle module, const char* name) {
    if (!module || !name)
        return nullptr;
    return dlsym(module, name);
}

#endif
