// The C entry points the server binds by name. They own the one model
// object and make sure no exception ever crosses into the server.
#include <iostream>
#include <mutex>
#include <memory>
#include <new>

#include "RedfishPlugin.h"
#include "messages.h"
#include "service.h"

using tolvane::plugin::PluginLog;
using tolvane::plugin::PluginPaths;
using tolvane::plugin::PluginService;
using tolvane::plugin::Reply;

namespace {

// The model object, alive from initializeAllPlugins to uninitializeAllPlugins.
// Those two run alone; the command entry points only read the pointer.
PluginService* gService = nullptr;

// The caller the server named for the next command call on this thread; each
// call takes it, so it never outlives the call it was meant for.
thread_local tolvane::plugin::Caller tNextCaller;

tolvane::plugin::Caller takeCaller() {
    tolvane::plugin::Caller caller = std::move(tNextCaller);
    tNextCaller = tolvane::plugin::Caller();
    return caller;
}

void answerError(std::string& reply, const tolvane::plugin::RedfishError& error) {
    try {
        reply = Reply::error(error.status(), error.payload()).envelope();
    } catch (...) {
        reply = "{\"HttpStatus\":500,\"Data\":{}}";
    }
}

void handle(const char* method, const char* uri, const char* body, std::string& reply) noexcept {
    try {
        const tolvane::plugin::Caller caller = takeCaller();
        if (!gService) {
            answerError(reply, tolvane::plugin::errors::serviceUnavailable());
            return;
        }
        reply = gService->dispatch(method, uri ? uri : "", body ? body : "{}", caller).envelope();
    } catch (...) {
        answerError(reply, tolvane::plugin::errors::internalError());
    }
}

} // namespace

REDFISH_PLUGIN_EXPORT bool initializeAllPlugins(RedfishModuleHandle) {
    try {
        if (gService)
            return true;
        const auto serverDir = tolvane::plugin::ownModuleDirectory();
        if (serverDir.empty())
            return false;
        PluginPaths paths = PluginPaths::forServerDirectory(serverDir);
        const PluginLog log = PluginLog::attach(serverDir);
        try {
            auto service = std::make_unique<PluginService>(paths, log);
            service->load(std::cout);
            gService = service.release();
        } catch (const std::exception& e) {
            // Both places: standard error for a console, the log for a service.
            std::cerr << "WebServerAbstractionModule: initialisation failed: " << e.what()
                      << std::endl;
            log.error("initializeAllPlugins", std::string("initialisation failed: ") + e.what());
            return false;
        }
        gService->log().debug("initializeAllPlugins",
                              "resource plug-in ready in " + serverDir.string());
        return true;
    } catch (const std::exception& e) {
        std::cerr << "WebServerAbstractionModule: initialisation failed: " << e.what() << std::endl;
        return false;
    } catch (...) {
        return false;
    }
}

REDFISH_PLUGIN_EXPORT bool uninitializeAllPlugins(RedfishModuleHandle) {
    try {
        delete gService;
    } catch (...) {
    }
    gService = nullptr;
    return true;
}

// The model guards itself (PluginService), so the server need not hold its
// process-wide lock around our calls.
REDFISH_PLUGIN_EXPORT int pluginCallsMayOverlap() {
    return 1;
}

// Task ownership needs the session's user and its privileges, which only the
// server knows.
REDFISH_PLUGIN_EXPORT void setCommandCaller(const char* userName, const char* privileges) {
    try {
        tolvane::plugin::Caller caller;
        caller.known = true;
        caller.userName = userName ? userName : "";
        const std::string list = privileges ? privileges : "";
        for (size_t start = 0; start < list.size();) {
            size_t comma = list.find(',', start);
            if (comma == std::string::npos)
                comma = list.size();
            if (comma > start)
                caller.privileges.push_back(list.substr(start, comma - start));
            start = comma + 1;
        }
        tNextCaller = std::move(caller);
    } catch (...) {
        tNextCaller = tolvane::plugin::Caller();
    }
}

// Our resources, their methods and the upload targets, so that the server
// keeps no copy of them. Asked after initialisation; the text lives on.
REDFISH_PLUGIN_EXPORT const char* describeResources() {
    static std::once_flag once;
    static std::string text;
    if (!gService)
        return nullptr;
    try {
        std::call_once(once, [] { text = gService->router().describe().dump(); });
    } catch (...) {
        return nullptr;
    }
    return text.c_str();
}

REDFISH_PLUGIN_EXPORT void GetCommandInterfaceHandler(const char* uri, const char* body,
                                                      std::string& reply) {
    handle("GET", uri, body, reply);
}

REDFISH_PLUGIN_EXPORT void PostCommandInterfaceHandler(const char* uri, const char* body,
                                                       std::string& reply) {
    handle("POST", uri, body, reply);
}

REDFISH_PLUGIN_EXPORT void PatchCommandInterfaceHandler(const char* uri, const char* body,
                                                        std::string& reply) {
    handle("PATCH", uri, body, reply);
}

REDFISH_PLUGIN_EXPORT void DeleteCommandInterfaceHandler(const char* uri, const char* body,
                                                         std::string& reply) {
    handle("DELETE", uri, body, reply);
}
