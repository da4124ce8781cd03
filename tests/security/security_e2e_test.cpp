// Attacks on the gate through the real program: paths with two meanings,
// look-alike logins, privilege escalation, tokens that outlive their
// accounts, session-table floods, password guessing, cross-site requests and
// files named by clients. Each test is named for the attack it stops.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "testsupport.h"

namespace {

const char kLoginUri[] = "/redfish/v1/SessionService/Sessions";
const char kAccounts[] = "/redfish/v1/AccountService/Accounts";

std::string sessionData(const std::string& role, const std::string& level) {
    return "{\"Role\":\"/redfish/v1/AccountService/Roles/" + role + "\",\"OSPrivilegeLevel\":\"" +
           level + "\"}";
}

class GateE2E : public ::testing::Test {
  protected:
    void start(const std::string& extraConfig = "") {
        ts::InstallOptions options;
        options.extraConfig = extraConfig;
        server.reset();
        tree = std::make_unique<ts::InstallTree>(options);
        server = std::make_unique<ts::ServerProcess>(*tree);
        ASSERT_TRUE(server->waitReady()) << server->output();
    }
    void SetUp() override { start(); }

    // A login of `user` with `role` through the scripted plug-in; the answer.
    ts::Response loginAs(const std::string& user, const std::string& role, const std::string& token,
                         const std::string& location) {
        nlohmann::ordered_json reply;
        reply["response"]["HttpStatus"] = 201;
        reply["response"]["Data"] = nlohmann::ordered_json::parse(sessionData(role, role));
        reply["response"]["Headers"]["X-Auth-Token"] = token;
        reply["response"]["Headers"]["Location"] = location;
        tree->setReply(std::string("POST ") + kLoginUri, reply.dump());
        return send("POST", kLoginUri, {"Content-Type: application/json"},
                    "{\"UserName\":\"" + user + "\",\"Password\":\"pw\"}");
    }
    std::string login(const std::string& user, const std::string& role, const std::string& token,
                      const std::string& location = "/redfish/v1/SessionService/Sessions/1") {
        ts::Response r = loginAs(user, role, token, location);
        EXPECT_EQ(r.status, 201) << r.raw;
        return r.header("X-Auth-Token");
    }
    ts::Response send(const std::string& method, const std::string& target,
                      const std::vector<std::string>& headers = {}, const std::string& body = "") {
        return ts::request(tree->port, method, target, headers, body);
    }
    ts::Response as(const std::string& token, const std::string& method, const std::string& target,
                    const std::string& body = "") {
        return send(method, target, {"X-Auth-Token: " + token, "Content-Type: application/json"},
                    body);
    }
    // Calls of the plug-in's entry point `entry` for `uri` since the last clear.
    size_t callsTo(const std::string& entry, const std::string& uri) const {
        size_t n = 0;
        for (const auto& c : tree->calls())
            if (c.value("entry", "") == entry && c.value("uri", "") == uri)
                ++n;
        return n;
    }
    void serveAccount(const std::string& id, const std::string& user) {
        tree->setReply(std::string("GET ") + kAccounts + "/" + id,
                       "{\"HttpStatus\":200,\"Data\":{\"Id\":\"" + id + "\",\"UserName\":\"" +
                           user + "\"}}");
    }

    std::unique_ptr<ts::InstallTree> tree;
    std::unique_ptr<ts::ServerProcess> server;
};

TEST_F(GateE2E, EncodedQueryOrControlInPathIsRefusedOnEveryMethod) {
    const std::string token = login("admin", "Administrator", "tok-admin");
    tree->clearCalls();
    struct Case {
        const char* method;
        const char* target;
        bool withToken;
        std::vector<std::string> extra;
    };
    const Case cases[] = {
        {"POST",
         "/redfish/v1/Chassis/1/Drives/0/Actions/Drive.SecureErase%3F/SessionService/Sessions",
         false,
         {}},
        {"POST",
         "/redfish/v1/Chassis/1/Drives/0/Actions/Drive.SecureErase%23/SessionService/Sessions",
         false,
         {}},
        {"POST", "/redfish/v1/Systems/1%3Fx", true, {}},
        {"DELETE", "/redfish/v1/SessionService/Sessions/1%3F", true, {}},
        {"DELETE", "/redfish/v1/SessionService/Sessions/1%23", true, {}},
        {"GET", "/redfish/v1/Systems%3F$expand=Members", true, {}},
        {"GET", "/redfish/v1/Systems/1%0aforged", true, {}},
        {"PATCH", "/redfish/v1/Systems/1%0D%0AX:%20y", true, {}},
        {"PATCH", "/redfish/v1/Systems/1%09", true, {}},
        {"PATCH", "/redfish/v1/Systems/1%00", true, {}},
        {"DELETE", "/redfish/v1/SessionService/Sessions/1%00", true, {}},
        {"POST",
         "/redfish/v1/Systems/1/Storage/1/Actions/Oem/Veltrano.InstallOrUpgradeFirmware%3F",
         true,
         {"Content-Type: multipart/form-data; boundary=b"}},
        {"POST", "/redfish/v1/Systems/1%3F", true, {"X-HTTP-Method-Override: DELETE"}},
        {"GET", "/redfish/v1/SessionService%3F", false, {}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> headers = c.extra;
        headers.push_back("Content-Type: application/json");
        if (c.withToken)
            headers.push_back("X-Auth-Token: " + token);
        const ts::Response r = send(c.method, c.target, headers, "{}");
        EXPECT_EQ(r.status, 400) << c.method << " " << c.target << "\n" << r.raw;
        EXPECT_NE(r.body.find("InvalidURI"), std::string::npos) << r.body;
    }
    EXPECT_TRUE(tree->calls().empty()) << "no request may reach the plug-in";
}

TEST_F(GateE2E, LookAlikeLoginPathIsNoLogin) {
    tree->clearCalls();
    const ts::Response r = send(
        "POST", "/redfish/v1/Chassis/1/Drives/0/Actions/Drive.SecureErase/SessionService/Sessions",
        {"Content-Type: application/json"}, "{}");
    EXPECT_EQ(r.status, 401) << r.raw;
    EXPECT_TRUE(tree->calls().empty());
}

TEST_F(GateE2E, OperatorCannotRaiseItsRoleOrCreateAdministrators) {
    const std::string admin =
        login("admin", "Administrator", "tok-admin", "/redfish/v1/SessionService/Sessions/1");
    const std::string op =
        login("op", "Operator", "tok-op", "/redfish/v1/SessionService/Sessions/2");
    serveAccount("2", "op");
    serveAccount("1", "admin");
    tree->clearCalls();
    struct Case {
        const char* method;
        std::string target;
        const char* body;
        int status;
    };
    const Case cases[] = {
        {"POST", kAccounts, R"({"UserName":"evil","Password":"x","RoleId":"Administrator"})", 403},
        {"PATCH", std::string(kAccounts) + "/2", R"({"RoleId":"Administrator"})", 403},
        {"PATCH", std::string(kAccounts) + "/2", R"({"Password":"new","RoleId":"Administrator"})",
         403},
        {"PATCH", std::string(kAccounts) + "/1", R"({"Password":"mine-now"})", 403},
        {"DELETE", std::string(kAccounts) + "/1", "", 403},
        {"PATCH", "/redfish/v1/AccountService", R"({"AccountLockoutThreshold":0})", 403},
        {"DELETE", "/redfish/v1/SessionService/Sessions/1", "", 403},
        {"PATCH", "/redfish/v1/Managers/1", R"({"DateTime":"x"})", 403},
        // What an Operator may do.
        {"PATCH", std::string(kAccounts) + "/2", R"({"Password":"new-secret"})", 200},
        {"POST", "/redfish/v1/Systems/1/Storage/1/Volumes", R"({"Name":"v"})", 200},
        {"GET", std::string(kAccounts) + "/2", "", 200},
        // Another user's account is not an Operator's to read.
        {"GET", std::string(kAccounts) + "/1", "", 403},
    };
    for (const Case& c : cases) {
        const ts::Response r = as(op, c.method, c.target, c.body);
        EXPECT_EQ(r.status, c.status) << c.method << " " << c.target << " " << c.body << "\n"
                                      << r.raw;
        if (c.status == 403) {
            EXPECT_NE(r.body.find("InsufficientPrivilege"), std::string::npos) << r.body;
        }
    }
    EXPECT_EQ(callsTo("POST", kAccounts), 0u);
    EXPECT_EQ(callsTo("PATCH", std::string(kAccounts) + "/1"), 0u);
    EXPECT_EQ(callsTo("DELETE", "/redfish/v1/SessionService/Sessions/1"), 0u);
    // The Operator ends its own session; the administrator's still works.
    EXPECT_EQ(as(op, "DELETE", "/redfish/v1/SessionService/Sessions/2").status, 200);
    EXPECT_EQ(as(op, "GET", "/redfish/v1/Systems").status, 401);
    EXPECT_EQ(as(admin, "GET", "/redfish/v1/Systems").status, 200);
}

TEST_F(GateE2E, RoleDocumentOfThePlugInDecidesPrivileges) {
    tree->setReply("GET /redfish/v1/AccountService/Roles/Auditor",
                   R"({"HttpStatus":200,"Data":{"Id":"Auditor","AssignedPrivileges":["Login"]}})");
    const std::string token = login("audit", "Auditor", "tok-audit");
    EXPECT_EQ(as(token, "GET", "/redfish/v1/Systems").status, 200);
    EXPECT_EQ(as(token, "POST", "/redfish/v1/Systems/1/Storage/1/Volumes", "{}").status, 403);
    // A role the plug-in does not describe and that is no standard role grants nothing.
    const std::string nobody = login("nobody", "Custom", "tok-custom");
    EXPECT_EQ(as(nobody, "GET", "/redfish/v1/Systems").status, 403);
}

TEST_F(GateE2E, TokensDieWithTheirAccountsRoleOrPassword) {
    const std::string admin =
        login("admin", "Administrator", "tok-admin", "/redfish/v1/SessionService/Sessions/1");
    serveAccount("2", "op");
    serveAccount("3", "ops");
    tree->setReply("PATCH", "{\"HttpStatus\":200,\"Data\":{}}");
    tree->setReply("DELETE", "{\"HttpStatus\":204}");
    struct Case {
        const char* method;
        const char* body;
        bool survives;
    };
    const Case cases[] = {
        {"PATCH", R"({"RoleId":"ReadOnly"})", false},
        {"PATCH", R"({"Enabled":false})", false},
        {"PATCH", R"({"Password":"changed"})", false},
        {"PATCH", R"({"UserName":"renamed"})", false},
        {"DELETE", "", false},
        {"PATCH", R"({"Description":"harmless"})", true},
    };
    int i = 0;
    for (const Case& c : cases) {
        const std::string token = "tok-op-" + std::to_string(i++);
        login("op", "Operator", token, "/redfish/v1/SessionService/Sessions/2");
        const std::string other =
            login("ops", "Operator", token + "-other", "/redfish/v1/SessionService/Sessions/3");
        ASSERT_EQ(as(token, "GET", "/redfish/v1/Systems").status, 200);
        EXPECT_LT(as(admin, c.method, std::string(kAccounts) + "/2", c.body).status, 300);
        EXPECT_EQ(as(token, "GET", "/redfish/v1/Systems").status, c.survives ? 200 : 401)
            << c.method << " " << c.body;
        EXPECT_EQ(as(other, "GET", "/redfish/v1/Systems").status, 200) << "another user";
    }
    // A refused change ends nothing.
    const std::string kept =
        login("op", "Operator", "tok-op-kept", "/redfish/v1/SessionService/Sessions/2");
    tree->setReply("PATCH", "{\"HttpStatus\":400,\"Data\":{}}");
    EXPECT_EQ(as(admin, "PATCH", std::string(kAccounts) + "/2", R"({"RoleId":"x"})").status, 400);
    EXPECT_EQ(as(kept, "GET", "/redfish/v1/Systems").status, 200);
    // A user changing its own password keeps the session that did it, and
    // only that one.
    tree->setReply("PATCH", "{\"HttpStatus\":200,\"Data\":{}}");
    const std::string second =
        login("op", "Operator", "tok-op-second", "/redfish/v1/SessionService/Sessions/4");
    EXPECT_EQ(as(kept, "PATCH", std::string(kAccounts) + "/2", R"({"Password":"n"})").status, 200);
    EXPECT_EQ(as(kept, "GET", "/redfish/v1/Systems").status, 200);
    EXPECT_EQ(as(second, "GET", "/redfish/v1/Systems").status, 401);
}

TEST_F(GateE2E, EmptyPathSegmentsCannotDodgeRevocationOrLogout) {
    // The plug-in skips empty segments, so ".../Accounts//2" is account 2 to
    // it: the server must read the path the same way.
    const std::string admin =
        login("admin", "Administrator", "tok-admin", "/redfish/v1/SessionService/Sessions/1");
    serveAccount("2", "op");
    tree->setReply("PATCH", "{\"HttpStatus\":200,\"Data\":{}}");
    tree->setReply("DELETE", "{\"HttpStatus\":204}");
    const std::string demoted =
        login("op", "Operator", "tok-op-1", "/redfish/v1/SessionService/Sessions/2");
    EXPECT_EQ(
        as(admin, "PATCH", "/redfish/v1/AccountService/Accounts//2/", R"({"RoleId":"x"})").status,
        200);
    EXPECT_EQ(as(demoted, "GET", "/redfish/v1/Systems").status, 401);
    const std::string ended =
        login("op", "Operator", "tok-op-2", "/redfish/v1/SessionService/Sessions/3");
    EXPECT_EQ(as(admin, "DELETE", "/redfish/v1//SessionService/Sessions/3").status, 204);
    EXPECT_EQ(as(ended, "GET", "/redfish/v1/Systems").status, 401);
    EXPECT_EQ(as(admin, "GET", "/redfish/v1/Systems").status, 200);
}

TEST_F(GateE2E, SessionFloodCannotEvictAnotherUsersSession) {
    start("\"MaximumNumberOfConcurrentSessions\":3");
    const std::string admin = login("admin", "Administrator", "tok-admin");
    for (int i = 0; i < 6; ++i)
        login("op", "Operator", "tok-op-" + std::to_string(i));
    EXPECT_EQ(as(admin, "GET", "/redfish/v1/Systems").status, 200);
    EXPECT_EQ(as("tok-op-5", "GET", "/redfish/v1/Systems").status, 200);
    EXPECT_EQ(as("tok-op-0", "GET", "/redfish/v1/Systems").status, 401) << "its own oldest went";
    // A read-only user gets no record at all, so cannot fill the table either.
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(loginAs("ro", "ReadOnlyUser", "tok-ro-" + std::to_string(i), "/s/ro").status,
                  201);
    EXPECT_EQ(as("tok-ro-0", "GET", "/redfish/v1/Systems").status, 401);
    // A third user finds the table full: refused, and the plug-in's session ended.
    tree->clearCalls();
    const ts::Response full =
        loginAs("third", "Operator", "tok-third", "/redfish/v1/SessionService/Sessions/9");
    EXPECT_EQ(full.status, 503) << full.raw;
    EXPECT_NE(full.body.find("SessionLimitExceeded"), std::string::npos);
    EXPECT_EQ(callsTo("DELETE", "/redfish/v1/SessionService/Sessions/9"), 1u);
    EXPECT_EQ(as(admin, "GET", "/redfish/v1/Systems").status, 200);
}

TEST_F(GateE2E, PasswordGuessingIsThrottledPerAddress) {
    tree->setReply(std::string("POST ") + kLoginUri,
                   R"({"response":{"HttpStatus":401,"Data":{"error":"no"}}})");
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(send("POST", kLoginUri, {"Content-Type: application/json"},
                       R"({"UserName":"admin","Password":"guess"})")
                      .status,
                  401);
    tree->clearCalls();
    const ts::Response blocked = send("POST", kLoginUri, {"Content-Type: application/json"},
                                      R"({"UserName":"admin","Password":"right"})");
    EXPECT_EQ(blocked.status, 429) << blocked.raw;
    EXPECT_FALSE(blocked.header("Retry-After").empty());
    EXPECT_TRUE(tree->calls().empty()) << "no login reaches the plug-in while blocked";

    // Another address still logs in.
    if (!ts::Connection(tree->port, ts::fromAddress()).connected())
        GTEST_SKIP() << "no second loopback address here";
    const std::string raw = ts::exchange(
        tree->port,
        ts::requestText(tree->port, "POST", kLoginUri, {"Content-Type: application/json"},
                        R"({"UserName":"admin","Password":"right"})"),
        ts::fromAddress());
    EXPECT_EQ(ts::parseResponse(raw).status, 401) << "the plug-in was asked: " << raw;
}

TEST_F(GateE2E, CookieOnlyCrossSiteWritesAreRefused) {
    const ts::Response loggedIn = loginAs("admin", "Administrator", "tok-admin", "/s/1");
    ASSERT_EQ(loggedIn.status, 201);
    const std::string cookie = loggedIn.header("Set-Cookie");
    EXPECT_EQ(cookie, "sessionId =tok-admin; Path=/redfish; HttpOnly; SameSite=Strict");
    EXPECT_EQ(loggedIn.header("Cache-Control"), "no-store");
    tree->clearCalls();
    const std::string jar = "Cookie: sessionId=tok-admin";
    struct Case {
        std::vector<std::string> headers;
        int status;
    };
    const Case cases[] = {
        {{jar, "Content-Type: text/plain"}, 403},
        {{jar, "Content-Type: application/x-www-form-urlencoded"}, 403},
        {{jar}, 403},
        {{jar, "Content-Type: application/json", "Origin: https://evil.example"}, 403},
        {{jar, "Content-Type: application/json", "Sec-Fetch-Site: cross-site"}, 403},
        {{jar, "Content-Type: application/json",
          "Origin: http://127.0.0.1:" + std::to_string(tree->port)},
         200},
        {{"X-Auth-Token: tok-admin", "Content-Type: text/plain"}, 200},
    };
    for (const Case& c : cases) {
        const ts::Response r = send("POST", kAccounts, c.headers,
                                    R"({"UserName":"x","Password":"y","RoleId":"Administrator"})");
        EXPECT_EQ(r.status, c.status) << c.headers.back() << "\n" << r.raw;
    }
    EXPECT_EQ(callsTo("POST", kAccounts), 2u);
    // A method override hidden in another header's value is no override.
    tree->clearCalls();
    EXPECT_EQ(send("GET", "/redfish/v1/Systems/1/Storage/1/Volumes/1",
                   {jar, "Referer: https://x.example/X-HTTP-Method-Override: DELETE"})
                  .status,
              200);
    EXPECT_EQ(callsTo("DELETE", "/redfish/v1/Systems/1/Storage/1/Volumes/1"), 0u);
}

TEST_F(GateE2E, JsonPostToAnUploadActionCannotNameFiles) {
    const std::string admin = login("admin", "Administrator", "tok-admin");
    tree->clearCalls();
    const std::string restore =
        "/redfish/v1/Systems/1/Storage/1/Actions/Oem/Veltrano.RestoreConfiguration";
    as(admin, "POST", restore,
       R"({"absoluteFilePath":"/etc/shadow","logFilePath":"/etc/cron.d/x","Mode":"All"})");
    const auto calls = tree->calls();
    ASSERT_FALSE(calls.empty());
    const auto argument = nlohmann::json::parse(calls.back().value("body", ""));
    EXPECT_EQ(argument.value("absoluteFilePath", "?"), "");
    EXPECT_EQ(argument.value("logFilePath", ""), tree->logDir + "RestoreConfiguration.log");
    EXPECT_EQ(argument.value("Mode", ""), "All");
}

} // namespace
