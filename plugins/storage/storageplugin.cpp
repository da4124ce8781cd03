#include "RedfishPlugin.h"

REDFISH_PLUGIN_EXPORT bool initializeAllPlugins(RedfishModuleHandle) { return true; }
REDFISH_PLUGIN_EXPORT bool uninitializeAllPlugins(RedfishModuleHandle) { return true; }
REDFISH_PLUGIN_EXPORT void GetCommandInterfaceHandler(const char*, const char*, std::string& reply) {
    reply = "{\"HttpStatus\":404,\"Data\":{}}";
}
