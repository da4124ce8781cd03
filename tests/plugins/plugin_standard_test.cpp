// What standard Redfish clients and validators expect of the resource
// plug-in: the DMTF roles, types that fit their URIs, described OEM
// extensions, account ETags and event subscriptions.
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
