// A resource plug-in that appends the name of each start and stop call to
// "PluginCalls.txt" beside itself, so the wine run can tell how often the
// service's stop shut the plug-in down. Every GET gets a fixed reply.
#include <cstdio>
#include <string>

#include <windows.h>

#include "RedfishPlugin.h"

namespace {

void record(const char* call) {
    HMODULE self = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCSTR>(&record), &self))
        return;
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(self, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return;
    std::string file(path, length);
    file = file.substr(0, file.find_last_of('\\') + 1) + "PluginCalls.txt";
    if (std::FILE* out = std::fopen(file.c_str(), "a")) {
        std::fprintf(out, "%s\n", call);
        std::fclose(out);
    }
}

} // namespace

REDFISH_PLUGIN_EXPORT bool initializeAllPlugins(RedfishModuleHandle) {
    record("initializeAllPlugins");
    return true;
}

REDFISH_PLUGIN_EXPORT bool uninitializeAllPlugins(RedfishModuleHandle) {
    record("uninitializeAllPlugins");
    return true;
}

REDFISH_PLUGIN_EXPORT void GetCommandInterfaceHandler(const char*, const char*,
                                                      std::string& reply) {
    reply = "{\"HttpStatus\":200,\"Data\":{\"Recording\":true}}";
}
