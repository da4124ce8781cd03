// The top of the tree below the service root, which the server answers
// itself: systems, chassis, managers and the schema and Swordfish collections.
#include <cctype>

#include "messages.h"
#include "oemschema.h"
#include "payloads.h"
#include "persistence.h"
#include "service.h"
#include "swordfishschemas.h"

namespace tolvane::plugin {

namespace {

const std::string R = kRoot;

Json computerSystem(PluginService& service) {
    Json j =
        resource(systemUri(), "#ComputerSystem.v1_27_0.ComputerSystem", kSystemId, "Host System");
    j["SystemType"] = "Physical";
    j["HostingRoles"] = Json::array({"StorageServer"}); // a member of StorageSystems
    j["Manufacturer"] = "Quorvex";
    j["Model"] = "Storage Host";
    j["Status"] = status("Enabled", "OK");
    j["PowerState"] = service.storage().host().powerState;
    // The host boots as it is set up; no override is offered.
    j["Boot"] = Json{{"BootSourceOverrideEnabled", "Disabled"},
                     {"BootSourceOverrideTarget", "None"},
                     {"BootSourceOverrideMode", "UEFI"}};
    j["Storage"] = link(systemUri() + "/Storage");
    j["Links"] = Json{{"Chassis", Json::array({link(R + "/Chassis/" + kChassisId)})},
                      {"ManagedBy", Json::array({link(R + "/Managers/" + kManagerId)})}};
    j["Actions"] = Json{
        {"#ComputerSystem.Reset", Json{{"target", systemUri() + "/Actions/ComputerSystem.Reset"},
                                       {"ResetType@Redfish.AllowableValues", kSystemResetTypes}}}};
    return j;
}

} // namespace

Json chassisPayload(PluginService& service) {
    const std::string uri = R + "/Chassis/" + kChassisId;
    Json j = resource(uri, "#Chassis.v1_28_0.Chassis", kChassisId, "Host Chassis");
    j["ChassisType"] = "RackMount";
    j["Manufacturer"] = "Quorvex";
    j["Status"] = status("Enabled", "OK");
    j["IndicatorLED"] = service.storage().host().chassisIndicatorLed;
    j["LocationIndicatorActive"] = service.storage().host().chassisIndicatorLed != "Off";
    j["Drives"] = link(driveCollectionUri());
    Json storage = Json::array();
    for (const auto& c : service.storage().controllers())
        storage.push_back(link(storageUri(c.id)));
    j["Links"] = Json{{"ComputerSystems", Json::array({link(systemUri())})},
                      {"ManagedBy", Json::array({link(R + "/Managers/" + kManagerId)})},
                      {"Storage", storage}};
    return j;
}

namespace {

// The service's UUID, which the server keeps beside us and shows in its
// root; "" when it has made none (the classic profile).
std::string serviceUuid(const PluginPaths& paths) {
    std::string text;
    if (!readWholeFile(paths.serverDir / "ServiceUUID", text, 64))
        return "";
    text = text.substr(0, text.find_first_of("\r\n"));
    if (text.size() != 36)
        return "";
    for (size_t i = 0; i < text.size(); ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? text[i] != '-' : !std::isxdigit(static_cast<unsigned char>(text[i])))
            return "";
    }
    return text;
}

Json manager(PluginService& service) {
    const std::string uri = R + "/Managers/" + kManagerId;
    Json j = resource(uri, "#Manager.v1_24_0.Manager", kManagerId, "Tolvane Redfish Service");
    j["ManagerType"] = "Service";
    j["Description"] = "The Redfish service of the storage host";
    j["FirmwareVersion"] = "1.0.0";
    const std::string uuid = serviceUuid(service.paths());
    if (!uuid.empty())
        j["UUID"] = uuid;
    // The time is given in UTC, so its offset is zero.
    j["DateTime"] = utcTimeText(service.now());
    j["DateTimeLocalOffset"] = "+00:00";
    j["EthernetInterfaces"] = link(uri + "/EthernetInterfaces");
    j["NetworkProtocol"] = link(uri + "/NetworkProtocol");
    j["LogServices"] = link(uri + "/LogServices");
    j["LastResetTime"] = utcTimeText(service.storage().host().managerResetAt);
    j["Status"] = status("Enabled", "OK");
    j["Actions"] =
        Json{{"#Manager.Reset", Json{{"target", uri + "/Actions/Manager.Reset"},
                                     {"ResetType@Redfish.AllowableValues", kManagerResetTypes}}}};
    j["Links"] = Json{{"ManagerForServers", Json::array({link(systemUri())})},
                      {"ManagerForChassis", Json::array({link(R + "/Chassis/" + kChassisId)})}};
    return j;
}

} // namespace

void requireId(const std::string& given, const char* expected, const char* type) {
    if (given != expected)
        throw errors::resourceNotFound(type, given);
}

void addServiceResources(Router& router, PluginService& service) {
    router.add("GET", "Systems", [](const Request&) {
        return Reply::ok(collection(R + "/Systems",
                                    "#ComputerSystemCollection.ComputerSystemCollection",
                                    "Computer System Collection", {systemUri()}));
    });
    router.add("GET", "Systems/{system}", [&service](const Request& r) {
        requireId(r.param("system"), kSystemId, "ComputerSystem");
        return Reply::ok(computerSystem(service));
    });

    router.add("GET", "Chassis", [](const Request&) {
        return Reply::ok(collection(R + "/Chassis", "#ChassisCollection.ChassisCollection",
                                    "Chassis Collection", {R + "/Chassis/" + kChassisId}));
    });
    router.add("GET", "Chassis/{chassis}", [&service](const Request& r) {
        requireId(r.param("chassis"), kChassisId, "Chassis");
        return Reply::ok(chassisPayload(service));
    });

    router.add("GET", "Managers", [](const Request&) {
        return Reply::ok(collection(R + "/Managers", "#ManagerCollection.ManagerCollection",
                                    "Manager Collection", {R + "/Managers/" + kManagerId}));
    });
    router.add("GET", "Managers/{manager}", [&service](const Request& r) {
        requireId(r.param("manager"), kManagerId, "Manager");
        return Reply::ok(manager(service));
    });

    // The DMTF schemas are public; only the OEM schema is served here, as
    // JSON schema and as CSDL (which $metadata refers to), and the CSDL of
    // the two Swordfish collections the root links. The CSDL is the reply's
    // "Data" as a string, which the server sends as it is.
    router.add("GET", "JsonSchemas", [](const Request&) {
        return Reply::ok(collection(R + "/JsonSchemas",
                                    "#JsonSchemaFileCollection.JsonSchemaFileCollection",
                                    "JSON Schema Collection", {oem::jsonSchemaFileUri()}));
    });
    router.add("GET", "JsonSchemas/{file}", [](const Request& r) {
        requireId(r.param("file"), oem::kNamespace, "JsonSchemaFile");
        return Reply::ok(oem::jsonSchemaFile());
    });
    router.add("GET", "JsonSchemas/{file}/{document}", [](const Request& r) {
        if (auto swordfish = swordfish::collectionCsdl(r.param("file"), r.param("document")))
            return Reply::ok(Json(*swordfish));
        requireId(r.param("file"), oem::kNamespace, "JsonSchemaFile");
        if (r.path == oem::jsonSchemaUri())
            return Reply::ok(oem::jsonSchema());
        if (r.path != oem::csdlUri())
            throw errors::resourceMissingAtUri(r.path);
        return Reply::ok(Json(oem::csdl()));
    });

    // Swordfish entry points: the storage systems are the host system with
    // its controller (a "StorageServer" by its HostingRoles); no Swordfish
    // storage services are offered. Only the Swordfish collection type may
    // stand at this URI.
    router.add("GET", "StorageSystems", [](const Request&) {
        return Reply::ok(collection(R + "/StorageSystems",
                                    "#StorageSystemCollection.StorageSystemCollection",
                                    "Storage Systems", {systemUri()}));
    });
    router.add("GET", "StorageServices", [](const Request&) {
        return Reply::ok(collection(R + "/StorageServices",
                                    "#StorageServiceCollection.StorageServiceCollection",
                                    "Storage Services", {}));
    });
}

} // namespace tolvane::plugin
