// The resources a plug-in declares through its describeResources entry point:
// the methods each takes and where uploads go. Adopted once the plug-in is
// initialised; until then, and for a plug-in that declares nothing, the
// rows of the route table apply (routetable.h).
#ifndef TOLVANE_DECLAREDRESOURCES_H
#define TOLVANE_DECLAREDRESOURCES_H

#include <optional>
#include <string_view>

#include "routes/routetable.h"

// Takes the plug-in's description; false (and nothing adopted) when `text`
// is null or not a description.
bool adoptDeclaredResources(const char* text);

// Back to the built-in tables (the plug-in is unloaded).
void forgetDeclaredResources();

// The "Allow" list of the declared resource at `path` ("/redfish/v1/...",
// normalised), "GET, HEAD" for a path the plug-in does not declare; null
// when nothing is declared. Declarations are kept until the process ends.
const char* declaredAllowOf(std::string_view path);

// The declared upload target at `pluginUri` (null: none there); nullopt when
// nothing is declared.
std::optional<const OemUploadAction*> declaredUploadOf(std::string_view pluginUri);

#endif
