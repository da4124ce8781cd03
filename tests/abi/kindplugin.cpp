// A resource plug-in as a third party builds it: against its own declaration
// of Logger::PrintLog, with the record kind either as the EnumLoggerType
// enumeration or as a plain int (TOLVANE_KIND_AS_ENUM). Loading it proves the
// program exports the matching name; initializeAllPlugins writes one trace
// record through it and answers every GET with a fixed reply.
#include <string>

#include "RedfishPlugin.h"

#if TOLVANE_KIND_AS_ENUM
enum EnumLoggerType { LOGGER_TRACE_RECORD = 0 };
typedef EnumLoggerType KindType;
#define TOLVANE_KIND_NAME "enum"
#else
typedef int KindType;
#define TOLVANE_KIND_NAME "int"
#endif

class Logger {
  public:
    static void PrintLog(KindType type, const char* format, ...);
};

REDFISH_PLUGIN_EXPORT bool initializeAllPlugins(RedfishModuleHandle) {
    Logger::PrintLog(static_cast<KindType>(0), "kind plug-in (%s) linked\n", TOLVANE_KIND_NAME);
    return true;
}

REDFISH_PLUGIN_EXPORT bool uninitializeAllPlugins(RedfishModuleHandle) {
    return true;
}

REDFISH_PLUGIN_EXPORT void GetCommandInterfaceHandler(const char*, const char*,
                                                      std::string& reply) {
    reply = "{\"HttpStatus\":200,\"Data\":{\"Kind\":\"" TOLVANE_KIND_NAME "\"}}";
}
