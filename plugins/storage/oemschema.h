// The plug-in's OEM extensions (the "Veltrano" objects under "Oem" and the
// controller's OEM actions), described once in a table from which both the
// JSON schema and the CSDL document that the service serves are made.
#ifndef TOLVANE_PLUGIN_OEMSCHEMA_H
#define TOLVANE_PLUGIN_OEMSCHEMA_H

#include <string>
#include <vector>

#include "json.h"

namespace tolvane::plugin::oem {

constexpr const char* kNamespace = "Veltrano";
constexpr const char* kVersion = "v1_0_0";
constexpr const char* kOwner = "Quorvex";

// "#Veltrano.v1_0_0.<type>", the "@odata.type" of an OEM object.
std::string odataType(const std::string& type);
// An "Oem" member: {"Veltrano": {"@odata.type": ..., members...}}.
Json oemMember(const std::string& type, Json members);

// The OEM actions, as the Storage resource lists them ("Veltrano.<name>").
std::vector<std::string> actionNames();

// Where the service serves the documents, and the JSON schema file resource
// that points at them.
std::string jsonSchemaFileUri(); // /redfish/v1/JsonSchemas/Veltrano
std::string jsonSchemaUri();     // .../Veltrano/Veltrano.v1_0_0.json
std::string csdlUri();           // .../Veltrano/Veltrano_v1.xml
std::string csdlFileName();      // Veltrano_v1.xml

Json jsonSchema();
std::string csdl();
Json jsonSchemaFile();

} // namespace tolvane::plugin::oem

#endif
