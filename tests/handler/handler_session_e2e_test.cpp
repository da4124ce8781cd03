// Sessions in the real program: logins through the scripted plug-in, then
// the token binding, logout, roles, and the PATCH and DELETE roads with a
// session.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "handlertest.h"
#include "testsupport.h"

using namespace handlertest;

namespace {

const char kLoginUri[] = "/redfish/v1/SessionService/Sessions";
const char kAdmin[] = "{\"Role\":\"/redfish/v1/AccountService/Roles/Administrator\","
                      "\"OSPrivilegeLevel\":\"Administrator\"}";

class SessionE2E : public ::testing::Test {
  protected:
    void SetUp() override {
        tree = std::make_unique<ts::InstallTree>();
        server = std::make_unique<ts::ServerProcess>(*tree);
        ASSERT_TRUE(server->waitReady()) << server->output();
    }
    // Logs in through the plug-in's scripted reply; returns the token the
    // server handed out.
    std::string login(const std::string& token, const std::string& data = kAdmin,
                      const std::string& location = "/redfish/v1/SessionService/Sessions/1") {
        nlohmann::ordered_json reply;
        reply["response"]["HttpStatus"] = 201;
        reply["response"]["Data"] = nlohmann::ordered_json::parse(data);
        reply["response"]["Headers"]["X-Auth-Token"] = token;
        reply["response"]["Headers"]["Location"] = location;
        tree->setReply(std::string("POST ") + kLoginUri, reply.dump());
        ts::Response r =
            ts::request(tree->port, "POST", kLoginUri, {"Content-Type: application/json"},
                        "{\"UserName\":\"admin\",\"Password\":\"pw\"}");
        EXPECT_EQ(r.status, 201) << r.raw;
        return r.header("X-Auth-Token");
    }
    ts::Response send(const std::string& method, const std::string& target,
                      const std::vector<std::string>& headers = {}, const std::string& body = "") {
        return ts::request(tree->port, method, target, headers, body);
    }
    std::vector<nlohmann::json> commandCalls(const std::string& entry) const {
        std::vector<nlohmann::json> out;
        for (auto& c : tree->calls())
            if (c.value("entry", "") == entry)
                out.push_back(c);
        return out;
    }
    std::unique_ptr<ts::InstallTree> tree;
    std::unique_ptr<ts::ServerProcess> server;
};

TEST_F(SessionE2E, TheTokenOfTheLoginOpensTheDoor) {
    const std::string token = login("tok-A1");
    ASSERT_EQ(token, "tok-A1");
    tree->clearCalls(); // the login reads the role's privileges
    tree->setReply("GET /redfish/v1/Systems", "{\"HttpStatus\":200,\"Data\":{\"Members\":[]}}");
    EXPECT_EQ(send("GET", "/redfish/v1/Systems", {"X-Auth-Token: " + token}).raw,
              head(200, "Ok") + "{\"Members\":[]}");
    // The cookie as the login set it, and as browsers send it back.
    EXPECT_EQ(send("GET", "/redfish/v1/Systems", {"Cookie: sessionId =" + token}).status, 200);
    EXPECT_EQ(send("GET", "/redfish/v1/Systems", {"Cookie: lang=en; sessionId=" + token}).status,
              200);

    EXPECT_EQ(send("GET", "/redfish/v1/Systems").raw, unauthorized()) << "token missing";
    EXPECT_EQ(send("GET", "/redfish/v1/Systems", {"X-Auth-Token: tok-A2"}).raw, unauthorized())
        << "wrong token";
    EXPECT_EQ(send("GET", "/redfish/v1/Systems", {"Cookie: sessionId=tok-A"}).raw, unauthorized());
    EXPECT_EQ(commandCalls("GET").size(), 3u);
}

TEST_F(SessionE2E, AnotherAddressWithTheSameTokenIsRefused) {
    const std::string token = login("tok-B");
    tree->clearCalls(); // the login reads the role's privileges
    ts::Connection c(tree->port, ts::fromAddress());
    if (!c.connected())
        GTEST_SKIP() << "no second loopback address here";
    ASSERT_TRUE(c.send("GET /redfish/v1/Systems HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Auth-Token: " +
                       token + "\r\nConnection: close\r\n\r\n"));
    EXPECT_EQ(c.readAll(), unauthorized());
    EXPECT_TRUE(commandCalls("GET").empty());
    // From the login's own address it still works.
    EXPECT_EQ(send("GET", "/redfish/v1/Systems", {"X-Auth-Token: " + token}).status, 200);
}

TEST_F(SessionE2E, LogoutEndsTheSessionAtOnce) {
    const std::string first = login("tok-C1", kAdmin, "/redfish/v1/SessionService/Sessions/5");
    const std::string second = login("tok-C2", kAdmin, "/redfish/v1/SessionService/Sessions/6");
    tree->setReply("DELETE /redfish/v1/SessionService/Sessions/5", "{\"HttpStatus\":204}");
    EXPECT_EQ(
        send("DELETE", "/redfish/v1/SessionService/Sessions/5", {"X-Auth-Token: " + first}).raw,
        head(204, "No Content") + "Data is NULL");
    EXPECT_EQ(send("GET", "/redfish/v1/Systems", {"X-Auth-Token: " + first}).raw, unauthorized());
    EXPECT_EQ(send("GET", "/redfish/v1/Systems", {"X-Auth-Token: " + second}).status, 200);
}

TEST_F(SessionE2E, RolesAndOsPrivilegeLevelsOfTheLogin) {
    const std::pair<const char*, int> cases[] = {
        {"{\"Role\":\"/redfish/v1/AccountService/Roles/ReadOnlyUser\",\"OSPrivilegeLevel\":\"x\"}",
         401},
        {"{\"Role\":\"/redfish/v1/accountservice/roles/READONLYUSER\",\"OSPrivilegeLevel\":\"x\"}",
         401},
        {"{\"Role\":\"/redfish/v1/AccountService/Roles/"
         "OSUser\",\"OSPrivilegeLevel\":\"Undefined\"}",
         401},
        {"{\"Role\":\"/redfish/v1/AccountService/Roles/"
         "OSUser\",\"OSPrivilegeLevel\":\"ReadOnlyUser\"}",
         401},
        {"{\"Role\":\"/redfish/v1/AccountService/Roles/OSUser\",\"OSPrivilegeLevel\":\"Operator\"}",
         200},
        {"{\"Role\":\"/redfish/v1/AccountService/Roles/Operator\"}", 401},
    };
    int i = 0;
    for (auto& c : cases) {
        const std::string token = login("role-" + std::to_string(i), c.first,
                                        "/redfish/v1/SessionService/Sessions/" + std::to_string(i));
        ++i;
        EXPECT_EQ(send("GET", "/redfish/v1/Systems", {"X-Auth-Token: " + token}).status, c.second)
            << c.first;
        EXPECT_EQ(send("DELETE", "/redfish/v1/Systems/9", {"X-Auth-Token: " + token}).status,
                  c.second)
            << c.first;
    }
}

TEST_F(SessionE2E, ExpandRulesAndDotSegments) {
    const std::string token = login("tok-D");
    const std::pair<const char*, const char*> cases[] = {
        {"/redfish/v1/Systems?$expand=Members", "/redfish/v1/Systems?$expand=Members"},
        {"/redfish/v1/Systems?$expand=*", "/redfish/v1/Systems?$expand=Members"},
        {"/redfish/v1/Systems?members", "/redfish/v1/Systems"},
        {"/redfish/v1/Systems?", "/redfish/v1/Systems"},
        {"/redfish/v1/Chassis/../Systems/%31", "/redfish/v1/Systems/1"},
    };
    for (auto& c : cases) {
        tree->clearCalls();
        EXPECT_EQ(send("GET", c.first, {"X-Auth-Token: " + token}).status, 200) << c.first;
        auto calls = commandCalls("GET");
        ASSERT_EQ(calls.size(), 1u) << c.first;
        EXPECT_EQ(calls[0]["uri"], c.second) << c.first;
    }
    // The service root with a query is still the server's own document.
    tree->clearCalls();
    const auto root = send("GET", "/redfish/v1?$top=1", {"X-Auth-Token: " + token});
    EXPECT_EQ(root.status, 200);
    EXPECT_NE(root.body.find("\"RedfishVersion\""), std::string::npos) << root.body;
    EXPECT_TRUE(commandCalls("GET").empty());
}

TEST_F(SessionE2E, PatchAndDeleteRoadsWithTraceRecords) {
    const std::string token = login("tok-E");
    tree->setReply("PATCH /redfish/v1/AccountService/Accounts/3",
                   "{\"HttpStatus\":200,\"Data\":{\"Id\":\"3\"}}");
    const std::string body = "{\"UserName\":\"eve\",\"Password\":\"hunter2\"}";
    EXPECT_EQ(
        send("PATCH", "/redfish/v1/AccountService/Accounts/3?x=1", {"X-Auth-Token: " + token}, body)
            .raw,
        head(200, "Ok") + "{\"Id\":\"3\"}");
    EXPECT_EQ(send("PATCH", "/redfish/v1/Systems/1", {"X-Auth-Token: " + token}).status, 200);
    auto patches = commandCalls("PATCH");
    ASSERT_EQ(patches.size(), 2u);
    EXPECT_EQ(patches[0]["uri"], "/redfish/v1/AccountService/Accounts/3");
    EXPECT_EQ(patches[0]["body"], body);
    EXPECT_EQ(patches[1]["body"], "{}");

    // DELETE by method override.
    tree->setReply("DELETE", "{\"HttpStatus\":200,\"Data\":\"gone\"}");
    EXPECT_EQ(send("POST", "/redfish/v1/Systems/2?y",
                   {"X-Auth-Token: " + token, "X-HTTP-Method-Override: DELETE"}, "{}")
                  .raw,
              head(200, "Ok") + "gone");
    auto deletes = commandCalls("DELETE");
    ASSERT_EQ(deletes.size(), 1u);
    EXPECT_EQ(deletes[0]["uri"], "/redfish/v1/Systems/2");

    const std::string trace = tree->traceLog();
    EXPECT_EQ(trace.find("hunter2"), std::string::npos) << trace;
    EXPECT_NE(
        trace.find("HTTP Method           : PATCH\n"
                   "Request URL           : /redfish/v1/AccountService/Accounts/3\n"
                   "Request Arguments     : {\"UserName\":\"eve\",\"Password\":\"******\"}\n"),
        std::string::npos)
        << trace;
    EXPECT_NE(trace.find("Response HTTP Status  : 200, Ok\n"
                         "HTTP Method           : PATCH\n"
                         "Response Data         : {\"Id\":\"3\"}\n"),
              std::string::npos)
        << trace;
    EXPECT_NE(trace.find("HTTP Method           : DELETE\n"
                         "Request URL           : /redfish/v1/Systems/2\n"
                         "Request Arguments     : {}\n"),
              std::string::npos)
        << trace;
    EXPECT_NE(trace.find("Response HTTP Status  : 200, Ok\n"
                         "HTTP Method           : DELETE\n"
                         "Response Data         : gone\n"),
              std::string::npos)
        << trace;
}

TEST_F(SessionE2E, HostNameFromTheFirstHostHeaderReachesTheLogin) {
    // A refused request on the plug-in road still learns the host name.
    ts::exchange(tree->port, "GET /redfish/v1/Systems HTTP/1.1\r\nHost: [fe80::7]:8443\r\n"
                             "Connection: close\r\n\r\n");
    ts::exchange(tree->port, "GET /redfish/v1/Systems HTTP/1.1\r\nHost: later.example\r\n"
                             "Connection: close\r\n\r\n");
    login("tok-F");
    auto posts = commandCalls("POST");
    ASSERT_EQ(posts.size(), 1u);
    auto argument = nlohmann::json::parse(posts[0]["body"].get<std::string>(), nullptr, false);
    ASSERT_TRUE(argument.is_object()) << posts[0]["body"];
    EXPECT_EQ(argument["x-forwarded-for"], "[fe80::7]");
}

} // namespace
