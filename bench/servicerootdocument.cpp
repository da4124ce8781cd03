#include "servicerootdocument.h"

#include <nlohmann/json.hpp>

namespace bench {

const char kFixedHeaderBlock[] =
    "HTTP/1.1 200 Ok\r\nContent-Type:application/json\r\nConnection: keep-alive\r\n\r\n";

std::string serviceRootBody() {
    nlohmann::ordered_json root;
    root["@odata.context"] = "/redfish/v1/$metadata#ServiceRoot";
    root["@odata.id"] = "/redfish/v1";
    root["@odata.type"] = "#ServiceRoot.1.0.2.ServiceRoot";
    root["Id"] = "RootService";
    root["Name"] = "Root Service";
    root["RedfishVersion"] = "1.0.2";
    root["UUID"] = "Not Aplicable";
    const char* const links[][2] = {{"StorageServices", "/redfish/v1/StorageServices"},
                                    {"StorageSystems", "/redfish/v1/StorageSystems"},
                                    {"Systems", "/redfish/v1/Systems"},
                                    {"Chassis", "/redfish/v1/Chassis"},
                                    {"Managers", "/redfish/v1/Managers"},
                                    {"Tasks", "/redfish/v1/TaskService"},
                                    {"SessionService", "/redfish/v1/SessionService"},
                                    {"AccountService", "/redfish/v1/AccountService"},
                                    {"EventService", "/redfish/v1/EventService"},
                                    {"JsonSchemas", "/redfish/v1/JsonSchemas"}};
    for (const auto& link : links)
        root[link[0]] = nlohmann::ordered_json{{"@odata.id", link[1]}};
    return root.dump();
}

} // namespace bench
