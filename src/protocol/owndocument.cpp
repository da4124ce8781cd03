#include "protocol/owndocument.h"

const RootCollection kRootCollections[10] = {
    {"StorageServices", "/redfish/v1/StorageServices"},
    {"StorageSystems", "/redfish/v1/StorageSystems"},
    {"Systems", "/redfish/v1/Systems"},
    {"Chassis", "/redfish/v1/Chassis"},
    {"Managers", "/redfish/v1/Managers"},
    {"Tasks", "/redfish/v1/TaskService"},
    {"SessionService", "/redfish/v1/SessionService"},
    {"AccountService", "/redfish/v1/AccountService"},
    {"EventService", "/redfish/v1/EventService"},
    {"JsonSchemas", "/redfish/v1/JsonSchemas"},
};

const RootCollection kOptionalRootServices[2] = {
    {"UpdateService", "/redfish/v1/UpdateService"},
    {"Registries", "/redfish/v1/Registries"},
};

const RootCollection kStandardRootServices[1] = {
    {"CertificateService", "/redfish/v1/CertificateService"},
};

json::Value resourceLink(const char* uri) {
    json::Value v = json::Value::object();
    v["@odata.id"] = uri;
    return v;
}

void wrapInReply(const json::Value& document, std::string& out) {
    json::Value reply = json::Value::object();
    reply["Data"] = document;
    reply["HttpStatus"] = 200;
    out = json::dump(reply);
}
