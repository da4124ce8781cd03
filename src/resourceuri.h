// The resource URI that PATCH and DELETE hand to the plug-in.
#ifndef TOLVANE_RESOURCEURI_H
#define TOLVANE_RESOURCEURI_H

#include <string>

// `path` from the first "/redfish" (any letter case) to its end; `path`
// unchanged when it holds none.
std::string resourceUri(const std::string& path);

#endif
