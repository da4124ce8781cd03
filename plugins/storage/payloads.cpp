#include "payloads.h"

namespace tolvane::plugin {

Json link(const std::string& uri) {
    return Json{{"@odata.id", uri}};
}

Json resource(const std::string& uri, const std::string& type, const std::string& id,
              const std::string& name) {
    Json j = Json::object();
    j["@odata.id"] = uri;
    j["@odata.type"] = type;
    j["Id"] = id;
    j["Name"] = name;
    return j;
}

Json collection(const std::string& uri, const std::string& type, const std::string& name,
                const std::vector<std::string>& memberUris) {
    Json j = Json::object();
    j["@odata.id"] = uri;
    j["@odata.type"] = type;
    j["Name"] = name;
    Json members = Json::array();
    for (const auto& m : memberUris)
        members.push_back(link(m));
    j["Members@odata.count"] = members.size();
    j["Members"] = members;
    return j;
}

Json status(const std::string& state, const std::string& health) {
    return Json{{"State", state}, {"Health", health}};
}

} // namespace tolvane::plugin
