#include "oemschema.h"

#include "accounts.h"
#include "payloads.h"
#include "router.h"

namespace tolvane::plugin::oem {

namespace {

// One property of an OEM object or one parameter of an OEM action. `type` is
// "string", "boolean" or the name of another entry of the table; `values`
// makes a string an enumeration.
struct Member {
    const char* name;
    const char* type;
    const char* description;
    bool writable = false;
    bool nullable = false;
    std::vector<std::string> values = {};
};

struct ObjectType {
    const char* name;
    const char* description;
    bool oemObject; // stands under "Oem" (and carries "@odata.type")
    std::vector<Member> members;
};

struct Action {
    const char* name;
    const char* description;
    std::vector<Member> parameters;
};

const std::vector<ObjectType>& objectTypes() {
    static const std::vector<ObjectType> types = {
        {"ManagerAccount",
         "Veltrano extensions of a manager account.",
         true,
         {{"OSPrivilegeLevel", "string",
           "The privilege level of the account's sessions when its role is OSUser.", true, false,
           kOsPrivilegeLevels}}},
        {"StorageController",
         "Veltrano extensions of a storage controller.",
         true,
         {{"MicrocodeVersion", "string", "The version of the controller's microcode."},
          {"SpdmCertificate", "SpdmCertificate",
           "The SPDM certificate provisioned on the controller, when there is one."}}},
        {"SpdmCertificate",
         "An SPDM certificate of the controller.",
         false,
         {{"Subject", "string", "The subject of the certificate."},
          {"Issuer", "string", "The issuer of the certificate."},
          {"NotAfter", "string", "The end of the certificate's validity."},
          {"FingerprintSHA256", "string", "The SHA-256 fingerprint of the certificate."}}},
    };
    return types;
}

const Member kAllowDowngrade = {"AllowDowngrade", "boolean",
                                "Whether an image older than the installed one is installed."};

const std::vector<Action>& actions() {
    static const std::vector<Action> list = {
        {"InstallOrUpgradeFirmware",
         "Installs the controller firmware image sent as the multipart/form-data part "
         "UpdateFile.",
         {kAllowDowngrade}},
        {"RestoreConfiguration",
         "Restores the volumes and spares from a configuration backup sent as the "
         "multipart/form-data part UpdateFile.",
         {}},
        {"SPDMOperations",
         "Provisions or reads the controller's SPDM certificate, or reads its measurements.",
         {{"Operation",
           "string",
           "The SPDM operation.",
           false,
           false,
           {"SetCertificate", "GetCertificate", "GetMeasurements"}},
          {"Nonce", "string", "The nonce mixed into the measurement digests."}}},
        {"UpgradeMicrocode",
         "Installs the controller microcode image sent as the multipart/form-data part "
         "UpdateFile.",
         {kAllowDowngrade}},
        {"ExportConfiguration", "Answers with a backup of the volumes and spares as a file.", {}},
    };
    return list;
}

std::string versioned() {
    return std::string(kNamespace) + "." + kVersion;
}

// JSON schema of one member.
Json memberSchema(const Member& m) {
    Json j = Json::object();
    if (std::string(m.type) == "string" || std::string(m.type) == "boolean") {
        j["type"] = m.nullable ? Json::array({m.type, "null"}) : Json(m.type);
        if (!m.values.empty())
            j["enum"] = m.values;
    } else {
        j["anyOf"] = Json::array(
            {Json{{"$ref", std::string("#/definitions/") + m.type}}, {{"type", "null"}}});
    }
    j["description"] = m.description;
    j["readonly"] = !m.writable;
    return j;
}

std::string xmlEscaped(const std::string& text) {
    std::string out;
    for (char ch : text) {
        switch (ch) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += ch;
        }
    }
    return out;
}

std::string description(const std::string& indent, const char* text) {
    return indent + "<Annotation Term=\"OData.Description\" String=\"" + xmlEscaped(text) +
           "\"/>\n";
}

// The CSDL type of a member; enumerations get a type of their own, named
// after the member.
std::string edmType(const Member& m) {
    if (!m.values.empty())
        return versioned() + "." + m.name;
    if (std::string(m.type) == "string")
        return "Edm.String";
    if (std::string(m.type) == "boolean")
        return "Edm.Boolean";
    return versioned() + "." + m.type;
}

std::string enumType(const Member& m) {
    std::string out = "      <EnumType Name=\"" + std::string(m.name) + "\">\n";
    for (const auto& v : m.values)
        out += "        <Member Name=\"" + xmlEscaped(v) + "\"/>\n";
    return out + "      </EnumType>\n";
}

} // namespace

std::string odataType(const std::string& type) {
    return "#" + versioned() + "." + type;
}

Json oemMember(const std::string& type, Json members) {
    Json object = Json{{"@odata.type", odataType(type)}};
    for (auto it = members.begin(); it != members.end(); ++it)
        object[it.key()] = it.value();
    return Json{{kNamespace, object}};
}

std::vector<std::string> actionNames() {
    std::vector<std::string> names;
    for (const auto& a : actions())
        names.push_back(std::string(kNamespace) + "." + a.name);
    return names;
}

std::string jsonSchemaFileUri() {
    return std::string(kRoot) + "/JsonSchemas/" + kNamespace;
}
std::string jsonSchemaUri() {
    return jsonSchemaFileUri() + "/" + versioned() + ".json";
}
std::string csdlFileName() {
    return std::string(kNamespace) + "_v1.xml";
}
std::string csdlUri() {
    return jsonSchemaFileUri() + "/" + csdlFileName();
}

Json jsonSchema() {
    Json definitions = Json::object();
    for (const auto& t : objectTypes()) {
        Json properties = Json::object();
        if (t.oemObject)
            properties["@odata.type"] = {
                {"$ref", "http://redfish.dmtf.org/schemas/v1/odata-v4.json#/definitions/type"}};
        for (const auto& m : t.members)
            properties[m.name] = memberSchema(m);
        definitions[t.name] = Json{{"type", "object"},
                                   {"additionalProperties", false},
                                   {"description", t.description},
                                   {"properties", properties}};
    }
    for (const auto& a : actions()) {
        Json parameters = Json::object();
        for (const auto& p : a.parameters) {
            parameters[p.name] = memberSchema(p);
            parameters[p.name].erase("readonly");
        }
        definitions[a.name] =
            Json{{"type", "object"},
                 {"additionalProperties", false},
                 {"description", a.description},
                 {"parameters", parameters},
                 {"patternProperties",
                  {{"^([a-zA-Z_][a-zA-Z0-9_]*)?@(odata|Redfish|Message)\\.[a-zA-Z_][a-zA-Z0-9_]*$",
                    Json::object()}}},
                 {"properties",
                  {{"target", {{"type", "string"}, {"format", "uri-reference"}}},
                   {"title", {{"type", "string"}}}}}};
    }
    return Json{{"$id", jsonSchemaUri()},
                {"$schema", "http://redfish.dmtf.org/schemas/v1/redfish-schema-v1.json"},
                {"title", "#" + versioned()},
                {"owningEntity", kOwner},
                {"language", "en"},
                {"definitions", definitions}};
}

std::string csdl() {
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<edmx:Edmx xmlns:edmx=\"http://docs.oasis-open.org/odata/ns/edmx\" "
                      "Version=\"4.0\">\n";
    const struct {
        const char* uri;
        std::vector<std::pair<const char*, const char*>> includes; // namespace, alias
    } references[] = {
        {"http://docs.oasis-open.org/odata/odata/v4.0/errata03/csd01/complete/vocabularies/"
         "Org.OData.Core.V1.xml",
         {{"Org.OData.Core.V1", "OData"}}},
        {"http://redfish.dmtf.org/schemas/v1/RedfishExtensions_v1.xml",
         {{"RedfishExtensions.v1_0_0", "Redfish"}}},
        {"http://redfish.dmtf.org/schemas/v1/Resource_v1.xml", {{"Resource", nullptr}}},
        {"http://redfish.dmtf.org/schemas/v1/Storage_v1.xml", {{"Storage.v1_0_0", nullptr}}},
    };
    for (const auto& r : references) {
        out += "  <edmx:Reference Uri=\"" + std::string(r.uri) + "\">\n";
        for (const auto& [ns, alias] : r.includes)
            out += "    <edmx:Include Namespace=\"" + std::string(ns) + "\"" +
                   (alias ? " Alias=\"" + std::string(alias) + "\"" : "") + "/>\n";
        out += "  </edmx:Reference>\n";
    }
    const std::string schemaHead = "    <Schema xmlns=\"http://docs.oasis-open.org/odata/ns/edm\" "
                                   "Namespace=\"";
    const std::string owner = "      <Annotation Term=\"Redfish.OwningEntity\" String=\"" +
                              std::string(kOwner) + "\"/>\n";
    out += "  <edmx:DataServices>\n";
    // The actions, bound to the Storage resource's OEM actions.
    out += schemaHead + kNamespace + "\">\n" + owner;
    for (const auto& a : actions()) {
        out += "      <Action Name=\"" + std::string(a.name) + "\" IsBound=\"true\">\n";
        out += description("        ", a.description);
        out += "        <Parameter Name=\"Storage\" Type=\"Storage.v1_0_0.OemActions\"/>\n";
        for (const auto& p : a.parameters) {
            out += "        <Parameter Name=\"" + std::string(p.name) + "\" Type=\"" + edmType(p) +
                   "\">\n" + description("          ", p.description) + "        </Parameter>\n";
        }
        out += "      </Action>\n";
    }
    out += "    </Schema>\n";
    // The objects, in the versioned namespace.
    out += schemaHead + versioned() + "\">\n" + owner;
    for (const auto& t : objectTypes()) {
        out += "      <ComplexType Name=\"" + std::string(t.name) + "\"" +
               (t.oemObject ? " BaseType=\"Resource.OemObject\"" : "") + ">\n";
        out += "        <Annotation Term=\"OData.AdditionalProperties\" Bool=\"false\"/>\n";
        out += description("        ", t.description);
        for (const auto& m : t.members) {
            out += "        <Property Name=\"" + std::string(m.name) + "\" Type=\"" + edmType(m) +
                   "\">\n";
            out += std::string("          <Annotation Term=\"OData.Permissions\" "
                               "EnumMember=\"OData.Permission/") +
                   (m.writable ? "ReadWrite" : "Read") + "\"/>\n";
            out += description("          ", m.description) + "        </Property>\n";
        }
        out += "      </ComplexType>\n";
    }
    for (const auto& t : objectTypes()) {
        for (const auto& m : t.members) {
            if (!m.values.empty())
                out += enumType(m);
        }
    }
    for (const auto& a : actions()) {
        for (const auto& p : a.parameters) {
            if (!p.values.empty())
                out += enumType(p);
        }
    }
    out += "    </Schema>\n  </edmx:DataServices>\n</edmx:Edmx>\n";
    return out;
}

Json jsonSchemaFile() {
    Json j = resource(jsonSchemaFileUri(), "#JsonSchemaFile.v1_1_5.JsonSchemaFile", kNamespace,
                      std::string(kNamespace) + " OEM Schema File");
    j["Description"] = "The schema of the Veltrano OEM extensions and actions";
    j["Schema"] = "#" + versioned();
    j["Languages"] = Json::array({"en"});
    j["Location"] = Json::array({Json{{"Language", "en"}, {"Uri", jsonSchemaUri()}}});
    return j;
}

} // namespace tolvane::plugin::oem
