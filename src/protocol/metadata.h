// The standard profile's OData documents: the service document at
// /redfish/v1/odata and the metadata document at /redfish/v1/$metadata,
// which references the schema of every namespace the service's resources use.
#ifndef TOLVANE_METADATA_H
#define TOLVANE_METADATA_H

#include <string>

// Both as plug-in style replies {"Data":...,"HttpStatus":200}; the metadata
// document is XML text in a string "Data".
void buildODataServiceDocument(std::string& out);
void buildMetadataDocument(std::string& out);

#endif
