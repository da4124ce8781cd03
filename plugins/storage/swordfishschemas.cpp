#include "swordfishschemas.h"

namespace tolvane::plugin::swordfish {

namespace {

struct CollectionSchema {
    const char* name;       // namespace and entity type
    const char* uri;        // where the collection stands
    const char* memberCsdl; // the members' schema document
    const char* memberType; // the members' namespace-qualified type
    const char* description;
};

const CollectionSchema kCollections[] = {
    {"StorageSystemCollection", "/redfish/v1/StorageSystems",
     "http://redfish.dmtf.org/schemas/v1/ComputerSystem_v1.xml", "ComputerSystem.ComputerSystem",
     "A collection of storage systems: computer systems that serve storage."},
    {"StorageServiceCollection", "/redfish/v1/StorageServices",
     "http://redfish.dmtf.org/schemas/swordfish/v1/StorageService_v1.xml",
     "StorageService.StorageService", "A collection of storage services."},
};

std::string reference(const std::string& uri, const std::string& ns, const char* alias) {
    return "  <edmx:Reference Uri=\"" + uri + "\">\n    <edmx:Include Namespace=\"" + ns + "\"" +
           (alias ? std::string(" Alias=\"") + alias + "\"" : std::string()) +
           "/>\n  </edmx:Reference>\n";
}

std::string restriction(const char* term, const char* property) {
    return std::string("        <Annotation Term=\"Capabilities.") + term +
           "\">\n          <Record>\n            <PropertyValue Property=\"" + property +
           "\" Bool=\"false\"/>\n          </Record>\n        </Annotation>\n";
}

std::string csdlOf(const CollectionSchema& c) {
    const std::string vocabularies =
        "http://docs.oasis-open.org/odata/odata/v4.0/errata03/csd01/complete/vocabularies/";
    const std::string memberNamespace =
        std::string(c.memberType).substr(0, std::string(c.memberType).find('.'));
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<edmx:Edmx xmlns:edmx=\"http://docs.oasis-open.org/odata/ns/edmx\" "
                      "Version=\"4.0\">\n";
    out += reference(vocabularies + "Org.OData.Core.V1.xml", "Org.OData.Core.V1", "OData");
    out += reference(vocabularies + "Org.OData.Capabilities.V1.xml", "Org.OData.Capabilities.V1",
                     "Capabilities");
    out += reference("http://redfish.dmtf.org/schemas/v1/RedfishExtensions_v1.xml",
                     "RedfishExtensions.v1_0_0", "Redfish");
    out +=
        reference("http://redfish.dmtf.org/schemas/v1/Resource_v1.xml", "Resource.v1_0_0", nullptr);
    out += reference(c.memberCsdl, memberNamespace, nullptr);
    out += "  <edmx:DataServices>\n"
           "    <Schema xmlns=\"http://docs.oasis-open.org/odata/ns/edm\" Namespace=\"" +
           std::string(c.name) + "\">\n";
    out += "      <Annotation Term=\"Redfish.OwningEntity\" String=\"SNIA\"/>\n";
    out += "      <EntityType Name=\"" + std::string(c.name) +
           "\" BaseType=\"Resource.v1_0_0.ResourceCollection\">\n";
    out += "        <Annotation Term=\"OData.Description\" String=\"" + std::string(c.description) +
           "\"/>\n";
    out += restriction("InsertRestrictions", "Insertable");
    out += restriction("UpdateRestrictions", "Updatable");
    out += restriction("DeleteRestrictions", "Deletable");
    out += "        <Annotation Term=\"Redfish.Uris\">\n          <Collection>\n"
           "            <String>" +
           std::string(c.uri) + "</String>\n          </Collection>\n        </Annotation>\n";
    out +=
        "        <NavigationProperty Name=\"Members\" Type=\"Collection(" +
        std::string(c.memberType) +
        ")\">\n"
        "          <Annotation Term=\"OData.Permissions\" EnumMember=\"OData.Permission/Read\"/>\n"
        "          <Annotation Term=\"OData.Description\" String=\"The members of this "
        "collection.\"/>\n"
        "          <Annotation Term=\"OData.AutoExpandReferences\"/>\n"
        "          <Annotation Term=\"Redfish.Required\"/>\n"
        "        </NavigationProperty>\n"
        "      </EntityType>\n    </Schema>\n  </edmx:DataServices>\n</edmx:Edmx>\n";
    return out;
}

} // namespace

std::optional<std::string> collectionCsdl(const std::string& name, const std::string& document) {
    for (const CollectionSchema& c : kCollections) {
        if (name == c.name && document == name + "_v1.xml")
            return csdlOf(c);
    }
    return std::nullopt;
}

} // namespace tolvane::plugin::swordfish
