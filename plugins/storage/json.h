// The JSON type of the resource plug-in. The plug-in is built apart from the
// server's JSON adapter, so it uses the library directly; ordered_json keeps
// members in the order payloads are built, which is what clients see.
#ifndef TOLVANE_PLUGIN_JSON_H
#define TOLVANE_PLUGIN_JSON_H

#include <nlohmann/json.hpp>

namespace tolvane::plugin {
using Json = nlohmann::ordered_json;
} // namespace tolvane::plugin

#endif
