// A resource plug-in as a third party builds it: against its own declaration
// of Logger::PrintLog, with the record kind either as the EnumLoggerType
// enumeration or as a plain int (TOLVANE_KIND_AS_ENUM). Loading it proves the
// program exports the matching name; initializeAllPlugins writes one trace
// record through it, holding a text made by the HTTP library's function and
// by the wrapper class, which the program exports as well. Every GET gets a
// fixed reply.
#include <string>

#include "RedfishPlugin.h"
#include "civetserver.h"

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
    std::string encoded;
    CivetServer::urlEncode("a b", encoded);
    Logger::PrintLog(static_cast<KindType>(0), "kind plug-in (%s) linked: %s %s\n",
                     TOLVANE_KIND_NAME, encoded.c_str(), mg_version());
    return true;
}

REDFISH_PLUGIN_EXPORT bool uninitializeAllPlugins(RedfishModuleHandle) {
    return true;
}

REDFISH_PLUGIN_EXPORT void GetCommandInterfaceHandler(const char*, const char*,
                                                      std::string& reply) {
    reply = "{\"HttpStatus\":200,\"Data\":{\"Kind\":\"" TOLVANE_KIND_NAME "\"}}";
}
