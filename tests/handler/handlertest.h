// Helpers shared by the handler's server tests: exact answer texts.
#ifndef TOLVANE_HANDLERTEST_H
#define TOLVANE_HANDLERTEST_H

#include <string>

#include "testsupport.h"

namespace handlertest {

using ts::waitUntil;

inline std::string head(int status, const char* reason) {
    return "HTTP/1.1 " + std::to_string(status) + " " + reason +
           "\r\nContent-Type:application/json\r\nConnection: keep-alive\r\n\r\n";
}

inline std::string unauthorized() {
    return head(401, "Unauthorized") + "Unauthorized user";
}

const char kServiceRoot[] =
    "{\"@odata.context\":\"/redfish/v1/$metadata#ServiceRoot\",\"@odata.id\":\"/redfish/v1\","
    "\"@odata.type\":\"#ServiceRoot.1.0.2.ServiceRoot\",\"Id\":\"RootService\",\"Name\":\"Root "
    "Service\",\"RedfishVersion\":\"1.0.2\",\"UUID\":\"Not Aplicable\",\"StorageServices\":{\"@"
    "odata.id\":\"/redfish/v1/StorageServices\"},\"StorageSystems\":{\"@odata.id\":\"/redfish/v1/"
    "StorageSystems\"},\"Systems\":{\"@odata.id\":\"/redfish/v1/Systems\"},\"Chassis\":{\"@odata."
    "id\":\"/redfish/v1/Chassis\"},\"Managers\":{\"@odata.id\":\"/redfish/v1/Managers\"},\"Tasks\":"
    "{\"@odata.id\":\"/redfish/v1/TaskService\"},\"SessionService\":{\"@odata.id\":\"/redfish/v1/"
    "SessionService\"},\"AccountService\":{\"@odata.id\":\"/redfish/v1/AccountService\"},"
    "\"EventService\":{\"@odata.id\":\"/redfish/v1/EventService\"},\"JsonSchemas\":{\"@odata.id\":"
    "\"/redfish/v1/JsonSchemas\"}}";

inline int countOf(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1))
        ++n;
    return n;
}

} // namespace handlertest

#endif
