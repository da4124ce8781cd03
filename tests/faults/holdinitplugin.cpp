// Resource plug-in whose initialisation waits until the file "release"
// appears in $SCRIPTED_PLUGIN_DIR, so a test can act while it initialises.
// Every entry point appends its name to the file "events" there.
#include "RedfishPlugin.h"

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

namespace {

std::string controlFile(const char* name) {
    const char* dir = std::getenv("SCRIPTED_PLUGIN_DIR");
    return std::string(dir ? dir : ".") + "/" + name;
}

void event(const char* name) {
    std::ofstream(controlFile("events"), std::ios::app) << name << "\n";
}

void answer(const char* entry, std::string& reply) {
    event(entry);
    reply = "{\"HttpStatus\":200,\"Data\":{}}";
}

} // namespace

REDFISH_PLUGIN_EXPORT bool initializeAllPlugins(RedfishModuleHandle) {
    event("init-start");
    const std::string release = controlFile("release");
    // The held start is the behaviour under test, until the test releases it;
    // bounded, so a test that never releases cannot leave a process behind.
    for (int i = 0; i < 6000 && ::access(release.c_str(), F_OK) != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    event("init-end");
    return true;
}

REDFISH_PLUGIN_EXPORT bool uninitializeAllPlugins(RedfishModuleHandle) {
    event("uninit");
    return true;
}

REDFISH_PLUGIN_EXPORT void GetCommandInterfaceHandler(const char*, const char*, std::string& r) {
    answer("GET", r);
}
REDFISH_PLUGIN_EXPORT void PostCommandInterfaceHandler(const char*, const char*, std::string& r) {
    answer("POST", r);
}
REDFISH_PLUGIN_EXPORT void PatchCommandInterfaceHandler(const char*, const char*, std::string& r) {
    answer("PATCH", r);
}
REDFISH_PLUGIN_EXPORT void DeleteCommandInterfaceHandler(const char*, const char*, std::string& r) {
    answer("DELETE", r);
}
