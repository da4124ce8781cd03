#include "protocol/metadata.h"

#include "jsonadapter.h"
#include "protocol/owndocument.h"

namespace {

// A schema the metadata document references: its namespace, the version
// the service's resources use ("" for unversioned collections) and where
// the schema is published.
struct SchemaReference {
    const char* name;
    const char* version;
    const char* uri;                // null: the DMTF schema "<name>_v1.xml"
    const char* jsonBase = nullptr; // where its JSON schemas are published; null:
                                    // DMTF's when `uri` is null, none otherwise
};

const char* const kDmtfSchemas = "http://redfish.dmtf.org/schemas/v1/";
const char* const kSwordfishSchemas = "http://redfish.dmtf.org/schemas/swordfish/v1/";

// The namespaces of every resource the service and the bundled resource
// plug-in serve, and those their payloads rely on.
const SchemaReference kSchemas[] = {
    {"AccountService", "v1_18_1", nullptr},
    {"ActionInfo", "v1_5_0", nullptr},
    {"Certificate", "v1_11_0", nullptr},
    {"CertificateCollection", "", nullptr},
    {"CertificateLocations", "v1_0_4", nullptr},
    {"CertificateService", "v1_2_1", nullptr},
    {"Chassis", "v1_28_0", nullptr},
    {"ChassisCollection", "", nullptr},
    {"ComputerSystem", "v1_27_0", nullptr},
    {"ComputerSystemCollection", "", nullptr},
    {"Drive", "v1_22_0", nullptr},
    {"DriveCollection", "", nullptr},
    {"Event", "v1_13_0", nullptr},
    {"EventDestination", "v1_16_0", nullptr},
    {"EventDestinationCollection", "", nullptr},
    {"EthernetInterface", "v1_12_4", nullptr},
    {"EthernetInterfaceCollection", "", nullptr},
    {"EventService", "v1_12_0", nullptr},
    {"IPAddresses", "v1_1_5", nullptr},
    {"JsonSchemaFile", "v1_1_5", nullptr},
    {"JsonSchemaFileCollection", "", nullptr},
    {"LogEntry", "v1_21_0", nullptr},
    {"LogEntryCollection", "", nullptr},
    {"LogService", "v1_9_0", nullptr},
    {"LogServiceCollection", "", nullptr},
    {"Manager", "v1_24_0", nullptr},
    {"ManagerAccount", "v1_14_1", nullptr},
    {"ManagerAccountCollection", "", nullptr},
    {"ManagerCollection", "", nullptr},
    {"ManagerNetworkProtocol", "v1_12_0", nullptr},
    {"Message", "v1_3_0", nullptr},
    {"MessageRegistry", "v1_7_0", nullptr},
    {"MessageRegistryFile", "v1_1_5", nullptr},
    {"MessageRegistryFileCollection", "", nullptr},
    {"RedfishExtensions", "v1_0_0", nullptr},
    {"Resource", "v1_0_0", nullptr},
    {"Role", "v1_3_3", nullptr},
    {"RoleCollection", "", nullptr},
    {"ServiceRoot", "v1_20_0", nullptr},
    {"Session", "v1_8_0", nullptr},
    {"Settings", "v1_4_0", nullptr},
    {"SessionCollection", "", nullptr},
    {"SessionService", "v1_2_0", nullptr},
    {"Storage", "v1_21_0", nullptr},
    {"StorageCollection", "", nullptr},
    {"StorageController", "v1_11_0", nullptr},
    {"StorageControllerCollection", "", nullptr},
    {"SoftwareInventory", "v1_13_0", nullptr},
    {"SoftwareInventoryCollection", "", nullptr},
    {"Task", "v1_7_4", nullptr},
    {"TaskCollection", "", nullptr},
    {"TaskService", "v1_3_0", nullptr},
    {"UpdateService", "v1_17_0", nullptr},
    {"Volume", "v1_10_2", nullptr},
    {"VolumeCollection", "", nullptr},
    // Swordfish collections the service root links; the bundled plug-in
    // serves their CSDL, for clients that cannot reach the published one.
    {"StorageServiceCollection", "",
     "/redfish/v1/JsonSchemas/StorageServiceCollection/StorageServiceCollection_v1.xml",
     kSwordfishSchemas},
    {"StorageSystemCollection", "",
     "/redfish/v1/JsonSchemas/StorageSystemCollection/StorageSystemCollection_v1.xml",
     kSwordfishSchemas},
    // The bundled resource plug-in's OEM extensions, described by the schema
    // it serves itself.
    {"Veltrano", "v1_0_0", "/redfish/v1/JsonSchemas/Veltrano/Veltrano_v1.xml"},
};

} // namespace

std::string jsonSchemaUriOf(std::string_view odataType) {
    if (odataType.empty() || odataType.front() != '#')
        return "";
    odataType.remove_prefix(1);
    // "Namespace.vX_Y_Z.Type" or, unversioned, "Namespace.Type".
    const std::string_view name = odataType.substr(0, odataType.find('.'));
    std::string_view versioned = odataType.substr(0, odataType.rfind('.'));
    for (const SchemaReference& schema : kSchemas) {
        if (name != schema.name)
            continue;
        const char* base = schema.jsonBase ? schema.jsonBase : schema.uri ? nullptr : kDmtfSchemas;
        return base ? base + std::string(versioned) + ".json" : "";
    }
    return "";
}

void buildODataServiceDocument(std::string& out, const std::vector<RootCollection>& served) {
    json::Value doc = json::Value::object();
    doc["@odata.context"] = "/redfish/v1/$metadata";
    json::Value value = json::Value::array();
    auto singleton = [&value](const char* name, const char* url) {
        json::Value entry = json::Value::object();
        entry["name"] = name;
        entry["kind"] = "Singleton";
        entry["url"] = url;
        value.push_back(entry);
    };
    singleton("Service", "/redfish/v1/");
    for (const RootCollection& collection : kRootCollections)
        singleton(collection.name, collection.uri);
    for (const RootCollection& service : served)
        singleton(service.name, service.uri);
    for (const RootCollection& service : kStandardRootServices)
        singleton(service.name, service.uri);
    singleton("Sessions", "/redfish/v1/SessionService/Sessions");
    doc["value"] = value;
    wrapInReply(doc, out);
}

void buildMetadataDocument(std::string& out) {
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<edmx:Edmx xmlns:edmx=\"http://docs.oasis-open.org/odata/ns/edmx\" "
                      "Version=\"4.0\">\n";
    for (const SchemaReference& schema : kSchemas) {
        const std::string uri = schema.uri ? schema.uri
                                           : std::string("http://redfish.dmtf.org/schemas/v1/") +
                                                 schema.name + "_v1.xml";
        xml += "  <edmx:Reference Uri=\"" + uri + "\">\n";
        xml += "    <edmx:Include Namespace=\"" + std::string(schema.name) + "\"/>\n";
        if (*schema.version)
            xml += "    <edmx:Include Namespace=\"" + std::string(schema.name) + "." +
                   schema.version + "\"/>\n";
        xml += "  </edmx:Reference>\n";
    }
    xml += "  <edmx:DataServices>\n"
           "    <Schema xmlns=\"http://docs.oasis-open.org/odata/ns/edm\" Namespace=\"Service\">\n"
           "      <EntityContainer Name=\"Service\" "
           "Extends=\"ServiceRoot.v1_20_0.ServiceContainer\"/>\n"
           "    </Schema>\n"
           "  </edmx:DataServices>\n"
           "</edmx:Edmx>\n";
    wrapInReply(json::Value(xml), out);
}
