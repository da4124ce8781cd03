// What standard Redfish clients and validators expect of the resource
// plug-in: the DMTF roles, types that fit their URIs, described OEM
// extensions, account ETags and event subscriptions.
#include <map>
#include <set>
#include <vector>

#include <gtest/gtest.h>

#include "pluginharness.h"

using namespace plugintest;

namespace {

const std::string kRoles = "/redfish/v1/AccountService/Roles/";
const std::string kAccounts = "/redfish/v1/AccountService/Accounts";

class PluginStandard : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(plugin.initialize()); }
    LoadedPlugin plugin;
};

} // namespace

TEST_F(PluginStandard, StandardReadOnlyRoleIsOfferedAndAssignable) {
    const struct {
        const char* role;
        std::vector<std::string> privileges;
    } roles[] = {{"ReadOnly", {"Login", "ConfigureSelf"}},
                 {"ReadOnlyUser", {"Login", "ConfigureSelf"}},
                 {"OSUser", {"Login", "ConfigureComponents"}}};
    for (const auto& row : roles) {
        Call role = plugin.get(kRoles + row.role);
        ASSERT_EQ(role.status, 200) << row.role;
        EXPECT_EQ(role.data["AssignedPrivileges"].get<std::vector<std::string>>(), row.privileges);
    }
    Call created = plugin.post(
        kAccounts, {{"UserName", "reader"}, {"Password", "reader-pass-1"}, {"RoleId", "ReadOnly"}});
    ASSERT_EQ(created.status, 201) << created.text;
    EXPECT_EQ(plugin.login("reader", "reader-pass-1").reply["response"]["Data"]["Role"],
              kRoles + "ReadOnly");
}

TEST_F(PluginStandard, StorageSystemsCarriesTheTypeThatAllowsItsUri) {
    Call systems = plugin.get("/redfish/v1/StorageSystems");
    ASSERT_EQ(systems.status, 200);
    EXPECT_EQ(systems.data["@odata.type"], "#StorageSystemCollection.StorageSystemCollection");
    for (const auto& member : systems.data["Members"]) {
        Call system = plugin.get(member["@odata.id"].get<std::string>());
        EXPECT_EQ(system.data["HostingRoles"], Json::array({"StorageServer"}));
    }
}

namespace {

// Every resource reached from the service root by its links.
std::map<std::string, Json> wholeTree(LoadedPlugin& plugin) {
    std::map<std::string, Json> tree;
    std::vector<std::string> queue = {"/redfish/v1"};
    while (!queue.empty()) {
        const std::string uri = queue.back();
        queue.pop_back();
        if (tree.count(uri))
            continue;
        tree[uri] = plugin.get(uri).data;
        std::vector<const Json*> values = {&tree[uri]};
        while (!values.empty()) {
            const Json* v = values.back();
            values.pop_back();
            for (auto it = v->begin(); v->is_structured() && it != v->end(); ++it) {
                if (v->is_object() && it.key() == "@odata.id" && it->is_string())
                    queue.push_back(it->get<std::string>());
                else
                    values.push_back(&*it);
            }
        }
    }
    return tree;
}

} // namespace

TEST_F(PluginStandard, OemObjectsAndActionsAreDescribedByTheServedOemSchema) {
    Call file = plugin.get("/redfish/v1/JsonSchemas/Veltrano");
    ASSERT_EQ(file.status, 200);
    Call schema = plugin.get(file.data["Location"][0]["Uri"].get<std::string>());
    ASSERT_EQ(schema.status, 200);
    const Json& definitions = schema.data["definitions"];
    Call csdl = plugin.get("/redfish/v1/JsonSchemas/Veltrano/Veltrano_v1.xml");
    ASSERT_EQ(csdl.data["contentType"], "application/xml");
    const std::string xml = readFile(csdl.data["fileName"].get<std::string>());
    ASSERT_NE(xml.find("Namespace=\"Veltrano.v1_0_0\""), std::string::npos);

    size_t objects = 0, actions = 0;
    for (const auto& [uri, payload] : wholeTree(plugin)) {
        if (payload.contains("Oem")) {
            for (const auto& [ns, object] : payload["Oem"].items()) {
                ++objects;
                const std::string type = object.value("@odata.type", "");
                ASSERT_EQ(type.rfind("#Veltrano.v1_0_0.", 0), 0u) << uri << " Oem/" << ns;
                const std::string name = type.substr(type.rfind('.') + 1);
                EXPECT_TRUE(definitions.contains(name)) << type;
                EXPECT_NE(xml.find("<ComplexType Name=\"" + name + "\""), std::string::npos);
            }
        }
        if (payload.contains("Actions") && payload["Actions"].contains("Oem")) {
            for (const auto& [key, action] : payload["Actions"]["Oem"].items()) {
                ++actions;
                const std::string name = key.substr(std::string("#Veltrano.").size());
                EXPECT_TRUE(definitions.contains(name)) << key;
                EXPECT_NE(xml.find("<Action Name=\"" + name + "\""), std::string::npos) << key;
            }
        }
    }
    EXPECT_GE(objects, 2u);
    EXPECT_EQ(actions, 5u);
    // A client may send an OEM object back as it read it.
    Json oem = plugin.get(kAccounts + "/1").data["Oem"];
    oem["Veltrano"]["OSPrivilegeLevel"] = "Operator";
    EXPECT_EQ(plugin.patch(kAccounts + "/1", {{"Oem", oem}}).status, 200);
}

TEST_F(PluginStandard, AccountEtagChangesWithEveryChangeOfTheAccount) {
    Call created = plugin.post(
        kAccounts, {{"UserName", "etaguser"}, {"Password", "etag-pass-1"}, {"RoleId", "Operator"}});
    ASSERT_EQ(created.status, 201);
    const std::string uri = created.data["@odata.id"];
    std::set<std::string> seen = {created.data.value("@odata.etag", "")};
    const std::string first = *seen.begin();
    ASSERT_TRUE(first.size() > 2 && first.front() == '"' && first.back() == '"') << first;
    EXPECT_EQ(plugin.get(uri).data["@odata.etag"], first); // unchanged: the same tag
    const Json changes[] = {{{"RoleId", "ReadOnly"}},
                            {{"Enabled", false}},
                            {{"Password", "etag-pass-2"}},
                            {{"Password", "etag-pass-2"}}, // the same password, anew
                            {{"UserName", "etaguser2"}},
                            {{"Oem", {{"Veltrano", {{"OSPrivilegeLevel", "Operator"}}}}}}};
    for (const auto& change : changes) {
        ASSERT_EQ(plugin.patch(uri, change).status, 200) << change.dump();
        const std::string tag = plugin.get(uri).data["@odata.etag"];
        EXPECT_TRUE(seen.insert(tag).second) << change.dump() << " kept " << tag;
    }
}
