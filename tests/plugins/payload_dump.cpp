// Prints every resource the plug-in serves (reached by following links from
// the top of its tree) and a few error and login payloads as one JSON object
// {"<uri or label>": payload}, for the schema check in validate_payloads.py.
#include <deque>
#include <iostream>
#include <set>

#include "events.h"
#include "pluginharness.h"

using namespace plugintest;

namespace {

void collectLinks(const Json& value, std::deque<std::string>& queue, std::set<std::string>& seen) {
    if (value.is_object()) {
        for (auto it = value.begin(); it != value.end(); ++it) {
            if (it.key() == "@odata.id" && it.value().is_string()) {
                std::string uri = it.value().get<std::string>();
                uri = uri.substr(0, uri.find('#'));
                if (seen.insert(uri).second)
                    queue.push_back(uri);
            } else {
                collectLinks(it.value(), queue, seen);
            }
        }
    } else if (value.is_array()) {
        for (const auto& v : value)
            collectLinks(v, queue, seen);
    }
}

} // namespace

int main() {
    LoadedPlugin plugin;
    if (!plugin.initialize())
        return 2;
    const std::string storage = "/redfish/v1/Systems/1/Storage/1";
    Json out = Json::object();
    out["login:session"] =
        plugin.login("admin", plugin.adminPassword()).reply["response"]["Data"]["Data"];
    Json volume = {
        {"Name", "Data"},
        {"RAIDType", "RAID5"},
        {"Links",
         {{"Drives", Json::array({Json{{"@odata.id", "/redfish/v1/Chassis/1/Drives/0"}},
                                  Json{{"@odata.id", "/redfish/v1/Chassis/1/Drives/1"}},
                                  Json{{"@odata.id", "/redfish/v1/Chassis/1/Drives/2"}}})}}}};
    out["create:volume"] = plugin.post(storage + "/Volumes", volume).data;
    out["create:account"] =
        plugin
            .post(
                "/redfish/v1/AccountService/Accounts",
                {{"UserName", "viewer"}, {"Password", "viewer-pass-1"}, {"RoleId", "ReadOnlyUser"}})
            .data;
    out["create:subscription"] = plugin
                                     .post("/redfish/v1/EventService/Subscriptions",
                                           {{"Destination", "http://192.0.2.7/events"},
                                            {"Protocol", "Redfish"},
                                            {"Context", "dump"}})
                                     .data;
    // An event as subscribers receive it: a health change and a new volume.
    namespace model = tolvane::plugin;
    model::StorageModel before = model::StorageModel::makeDefault(), after = before;
    model::Controller& c = after.controllers().front();
    c.drives[0].health = "Warning";
    model::Volume v;
    v.id = "1";
    v.driveIds = {"1"};
    c.volumes.push_back(v);
    out["event:storage"] = model::eventPayload(model::storageEvents(before, after), "1", "dump",
                                               "2026-01-02T03:04:05Z");
    // A drive with the erase that runs on it.
    const std::string drive = "/redfish/v1/Chassis/1/Drives/5";
    plugin.post(drive + "/Actions/Drive.SecureErase", Json::object());
    out["create:erasing"] = plugin.get(drive).data;
    out["event:test"] = model::testEventPayload(
        {{"MessageId", "Base.1.22.1.Success"}, {"OriginOfCondition", "/redfish/v1"}}, "2",
        "2026-01-02T03:04:05Z");
    out["error:notfound"] = plugin.get("/redfish/v1/Chassis/1/Drives/99").data;
    out["error:notallowed"] = plugin.call("PATCH", "/redfish/v1/Systems", "{}").data;
    out["error:malformed"] = plugin.call("POST", storage + "/Volumes", "{").data;
    out["error:conflict"] = plugin.post(storage + "/Volumes", volume).data;
    out["error:login"] = plugin.login("admin", "wrong-password").data;
    out["error:action"] = plugin
                              .post(storage + "/Actions/Oem/Veltrano.InstallOrUpgradeFirmware",
                                    {{"absoluteFilePath", ""}})
                              .data;
    out["action:success"] = plugin
                                .post(storage + "/Actions/Oem/Veltrano.SPDMOperations",
                                      {{"Operation", "GetMeasurements"}})
                                .data;
    out["create:task"] =
        plugin.post(storage + "/Volumes/1/Actions/Volume.Initialize", Json::object()).data;

    const std::vector<std::string> top = plugin.topLevelUris();
    std::deque<std::string> queue(top.begin(), top.end());
    std::set<std::string> seen(top.begin(), top.end());
    seen.insert("/redfish/v1"); // the server's own document
    while (!queue.empty()) {
        const std::string uri = queue.front();
        queue.pop_front();
        Call c = plugin.get(uri);
        if (c.status != 200) {
            std::cerr << "GET " << uri << " answered " << c.status << "\n";
            return 1;
        }
        out[uri] = c.data;
        collectLinks(c.data, queue, seen);
        // The schemas and registries the service serves itself.
        const std::string type = c.data.value("@odata.type", "");
        const bool schemaFile = type.rfind("#JsonSchemaFile.", 0) == 0;
        if (schemaFile || type.rfind("#MessageRegistryFile.", 0) == 0) {
            for (const auto& location : c.data["Location"])
                out[(schemaFile ? "schema:" : "registry:") + location["Uri"].get<std::string>()] =
                    plugin.get(location["Uri"].get<std::string>()).data;
        }
    }
    std::cout << out.dump(2) << std::endl;
    return 0;
}
