// The standard profile's OData documents: the service document at
// /redfish/v1/odata and the metadata document at /redfish/v1/$metadata,
// which references the schema of every namespace the service's resources use.
#ifndef TOLVANE_METADATA_H
#define TOLVANE_METADATA_H

#include <string>
#include <string_view>
#include <vector>

#include "protocol/owndocument.h"

// Both as plug-in style replies {"Data":...,"HttpStatus":200}; the metadata
// document is XML text in a string "Data". The service document names the
// optional services in `served` too.
void buildODataServiceDocument(std::string& out, const std::vector<RootCollection>& served);
void buildMetadataDocument(std::string& out);

// The JSON schema that describes a resource of `odataType`
// ("#ServiceRoot.v1_20_0.ServiceRoot"), for the Link header; "" for a type
// whose namespace the service does not reference.
std::string jsonSchemaUriOf(std::string_view odataType);

#endif
