// The Swordfish collections the service root links (StorageSystems,
// StorageServices), described in CSDL that the plug-in serves itself, so a
// client that cannot reach the published Swordfish schemas can still check
// them. $metadata refers to these documents.
#ifndef TOLVANE_PLUGIN_SWORDFISHSCHEMAS_H
#define TOLVANE_PLUGIN_SWORDFISHSCHEMAS_H

#include <optional>
#include <string>

namespace tolvane::plugin::swordfish {

// The CSDL document of collection namespace `name`
// ("StorageSystemCollection") when `document` is its file name
// ("StorageSystemCollection_v1.xml"); nothing otherwise.
std::optional<std::string> collectionCsdl(const std::string& name, const std::string& document);

} // namespace tolvane::plugin::swordfish

#endif
