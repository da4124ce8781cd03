// Small builders shared by the resource payloads.
#ifndef TOLVANE_PLUGIN_PAYLOADS_H
#define TOLVANE_PLUGIN_PAYLOADS_H

#include <string>
#include <vector>

#include "json.h"

namespace tolvane::plugin {

// {"@odata.id": uri}
Json link(const std::string& uri);
// A resource's head: "@odata.id", "@odata.type", "Id", "Name".
Json resource(const std::string& uri, const std::string& type, const std::string& id,
              const std::string& name);
// A collection with its members' links.
Json collection(const std::string& uri, const std::string& type, const std::string& name,
                const std::vector<std::string>& memberUris);
Json status(const std::string& state, const std::string& health);

} // namespace tolvane::plugin

#endif
