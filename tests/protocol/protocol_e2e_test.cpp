// The standard profile's service root: what standard clients need to find
// their way in, and an identity that outlives restarts.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include <nlohmann/json.hpp>

#include "testsupport.h"

namespace {

ts::InstallOptions standardProfile() {
    ts::InstallOptions options;
    options.extraConfig = "\"RedfishProtocolProfile\": \"Standard\"";
    return options;
}

nlohmann::json serviceRoot(const ts::InstallTree& tree) {
    ts::ServerProcess server(tree);
    EXPECT_TRUE(server.waitReady()) << server.output();
    const ts::Response r = ts::request(tree.port, "GET", "/redfish/v1/");
    EXPECT_EQ(r.status, 200) << r.raw;
    return nlohmann::json::parse(r.body, nullptr, false);
}

} // namespace

// A standard client finds the sessions through Links.Sessions; without it
// the client cannot log in at all.
TEST(StandardServiceRoot, NamesWhereToLogInAndAValidType) {
    ts::InstallTree tree(standardProfile());
    const nlohmann::json root = serviceRoot(tree);
    ASSERT_TRUE(root.is_object());
    EXPECT_EQ(root.value("@odata.type", ""), "#ServiceRoot.v1_20_0.ServiceRoot");
    EXPECT_EQ(root["Links"]["Sessions"].value("@odata.id", ""),
              "/redfish/v1/SessionService/Sessions");
    EXPECT_EQ(root["ProtocolFeaturesSupported"]["ExpandQuery"].value("ExpandAll", false), true);
    for (const char* collection : {"Systems", "Chassis", "Managers", "SessionService",
                                   "AccountService", "EventService", "JsonSchemas"})
        EXPECT_TRUE(root.contains(collection)) << collection;
}

// The UUID is made once per installation: kept across restarts, different
// for another installation.
TEST(StandardServiceRoot, UuidIsMadeOncePerInstallation) {
    const std::regex uuid("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}");
    ts::InstallTree tree(standardProfile());
    const std::string first = serviceRoot(tree).value("UUID", "");
    EXPECT_TRUE(std::regex_match(first, uuid)) << first;
    EXPECT_EQ(serviceRoot(tree).value("UUID", ""), first);
    ts::InstallTree other(standardProfile());
    EXPECT_NE(serviceRoot(other).value("UUID", ""), first);
}
