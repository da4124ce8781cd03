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

// Clients read the OData documents before they log in; the classic profile
// keeps them behind the login as the plug-in's resources.
TEST(StandardDocuments, ODataDocumentsNeedNoLoginOnlyInTheStandardProfile) {
    ts::InstallTree tree(standardProfile());
    ts::ServerProcess server(tree);
    ASSERT_TRUE(server.waitReady()) << server.output();

    const ts::Response odata = ts::request(tree.port, "GET", "/redfish/v1/odata");
    ASSERT_EQ(odata.status, 200) << odata.raw;
    const nlohmann::json doc = nlohmann::json::parse(odata.body, nullptr, false);
    ASSERT_TRUE(doc.is_object()) << odata.body;
    EXPECT_EQ(doc.value("@odata.context", ""), "/redfish/v1/$metadata");
    ASSERT_TRUE(doc["value"].is_array());
    EXPECT_EQ(doc["value"][0].value("url", ""), "/redfish/v1/");

    const ts::Response metadata = ts::request(tree.port, "GET", "/redfish/v1/$metadata");
    ASSERT_EQ(metadata.status, 200) << metadata.raw;
    EXPECT_NE(metadata.header("Content-Type").find("application/xml"), std::string::npos);
    for (const char* part : {"<edmx:Edmx", "<EntityContainer Name=\"Service\"",
                             "Uri=\"http://redfish.dmtf.org/schemas/v1/ServiceRoot_v1.xml\"",
                             "<edmx:Include Namespace=\"ServiceRoot.v1_20_0\"/>", "</edmx:Edmx>"})
        EXPECT_NE(metadata.body.find(part), std::string::npos) << part;

    // Nothing but the own documents is readable without a login.
    EXPECT_EQ(ts::request(tree.port, "GET", "/redfish/v1/SessionService").status, 401);

    ts::InstallTree classic;
    ts::ServerProcess classicServer(classic);
    ASSERT_TRUE(classicServer.waitReady()) << classicServer.output();
    EXPECT_EQ(ts::request(classic.port, "GET", "/redfish/v1/odata").status, 401);
    EXPECT_EQ(ts::request(classic.port, "GET", "/redfish/v1/SessionService").status, 200);
}

// A client asking for an OData version the service does not speak is told
// so before anything else; POST to a collection's Members creates in it.
TEST(StandardRequests, UnsupportedODataVersionAndPostToMembers) {
    ts::InstallOptions options = standardProfile();
    ts::InstallTree tree(options);
    tree.setReply(
        "POST /redfish/v1/SessionService/Sessions",
        R"({"response":{"HttpStatus":201,"Data":{"Role":"/redfish/v1/AccountService/Roles/)"
        R"(Administrator","OSPrivilegeLevel":"Administrator"},)"
        R"("Headers":{"X-Auth-Token":"members-token","Location":"/redfish/v1/)"
        R"(SessionService/Sessions/1"}}})");
    ts::ServerProcess server(tree);
    ASSERT_TRUE(server.waitReady()) << server.output();
    for (const char* target : {"/redfish/v1/", "/redfish/v1/Systems"}) {
        const ts::Response r = ts::request(tree.port, "GET", target, {"OData-Version: 4.1"});
        EXPECT_EQ(r.status, 412) << target;
        EXPECT_NE(r.body.find("HeaderInvalid"), std::string::npos) << r.body;
    }
    EXPECT_EQ(ts::request(tree.port, "GET", "/redfish/v1/", {"OData-Version: 4.0"}).status, 200);

    const ts::Response login =
        ts::request(tree.port, "POST", "/redfish/v1/SessionService/Sessions/Members",
                    {"Content-Type: application/json"}, R"({"UserName":"a","Password":"b"})");
    EXPECT_EQ(login.status, 201) << login.raw;
    EXPECT_EQ(login.header("X-Auth-Token"), "members-token");

    // A 201 names what it created; a name that would break the head does not.
    struct Row {
        const char* created;
        const char* location;
    };
    for (const Row& row :
         {Row{"/redfish/v1/AccountService/Accounts/7", "/redfish/v1/AccountService/Accounts/7"},
          Row{"/redfish/v1/X\\r\\nSet-Cookie: a=b", ""}}) {
        tree.setReply("POST /redfish/v1/AccountService/Accounts",
                      std::string(R"({"HttpStatus":201,"Data":{"@odata.id":")") + row.created +
                          "\"}}");
        const ts::Response created =
            ts::request(tree.port, "POST", "/redfish/v1/AccountService/Accounts",
                        {"X-Auth-Token: members-token", "Content-Type: application/json"}, "{}");
        EXPECT_EQ(created.status, 201) << created.raw;
        EXPECT_EQ(created.header("Location"), row.location) << created.raw;
        EXPECT_FALSE(created.hasHeader("Set-Cookie")) << created.raw;
    }
}

// A plug-in that declares its resources gets Allow, 405 and the upload road
// from its declaration; a declaration that is not one leaves the built-in
// tables, and says so.
TEST(StandardRequests, PluginDeclaredResourcesDecideMethodsAndUploads) {
    const struct {
        const char* describe;
        const char* allowOfSubscription; // Allow of EventService/Subscriptions/1
        bool uploadRoad; // a multipart POST to .../Actions/Oem/X.Load is stored as a file
    } cases[] = {
        {R"({"Resources": [{"Uri": "/redfish/v1/EventService/Subscriptions/{Id}",
                            "Methods": ["GET", "PATCH", "DELETE"]}],
             "Uploads": [{"Uri": "/redfish/v1/Systems/{Id}/Actions/Oem/X.Load"}]})",
         "GET, HEAD, PATCH, DELETE", true},
        {R"({"Resources": "none"})", "GET, HEAD, DELETE", false},
    };
    for (const auto& c : cases) {
        ts::InstallOptions options = standardProfile();
        ts::InstallTree tree(options);
        ts::writeFile(tree.scriptDir + "describe.json", c.describe);
        tree.setReply("POST /redfish/v1/SessionService/Sessions",
                      R"({"response":{"HttpStatus":201,"Data":{"Role":"/redfish/v1/AccountService/)"
                      R"(Roles/Administrator","OSPrivilegeLevel":"Administrator"},)"
                      R"("Headers":{"X-Auth-Token":"t","Location":)"
                      R"("/redfish/v1/SessionService/Sessions/1"}}})");
        ts::ServerProcess server(tree);
        ASSERT_TRUE(server.waitReady()) << server.output();
        ASSERT_EQ(ts::request(tree.port, "POST", "/redfish/v1/SessionService/Sessions",
                              {"Content-Type: application/json"},
                              R"({"UserName":"a","Password":"b"})")
                      .status,
                  201);
        const ts::Response allowed = ts::request(
            tree.port, "OPTIONS", "/redfish/v1/EventService/Subscriptions/1", {"X-Auth-Token: t"});
        EXPECT_EQ(allowed.header("Allow"), c.allowOfSubscription) << allowed.raw;
        const std::string upload =
            ts::multipartBody("----declaredB", {{"file", "image.bin", std::string(1000, 'x')}});
        const ts::Response posted = ts::request(
            tree.port, "POST", "/redfish/v1/Systems/1/Actions/Oem/X.Load",
            {"X-Auth-Token: t", "Content-Type: multipart/form-data; boundary=----declaredB"},
            upload);
        EXPECT_EQ(posted.status, 200) << posted.raw;
        const nlohmann::json call = tree.calls().back();
        EXPECT_EQ(call.value("body", "").find("absoluteFilePath") != std::string::npos,
                  c.uploadRoad)
            << call;
        server.stop();
        EXPECT_EQ(ts::readFile(tree.logDir + "RedfishServer.out.log").find("gave no description") !=
                      std::string::npos,
                  !c.uploadRoad);
    }
}
