// The attacks that went through the server into the bundled storage plug-in,
// tried again end to end (plain HTTP, so that one test can speak from a
// second loopback address).
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "securitytest.h"
#include "testsupport.h"

namespace {

using Json = nlohmann::json;

const std::string kAccounts = "/redfish/v1/AccountService/Accounts";
const std::string kSessions = "/redfish/v1/SessionService/Sessions";

class BundledAttack : public ::testing::Test {
  protected:
    BundledAttack() : tree(options()) {}
    static ts::InstallOptions options() {
        ts::InstallOptions o;
        o.resourcePlugin = ts::storagePlugin();
        o.logPlugin = ts::logServicePlugin();
        return o;
    }
    void SetUp() override {
        server = std::make_unique<ts::ServerProcess>(tree);
        ASSERT_TRUE(server->waitReady()) << server->output();
        // The handler is registered after the plug-in is initialised.
        for (int i = 0; i < 150 && send("GET", "/redfish/v1", "").status != 200; ++i)
            usleep(100 * 1000);
        admin = login("admin", adminPassword()).header("X-Auth-Token");
        ASSERT_FALSE(admin.empty());
    }
    std::string adminPassword() const {
        std::string p = ts::readFile(tree.serverDir + "InitialAdminPassword.txt");
        while (!p.empty() && p.back() == '\n')
            p.pop_back();
        return p;
    }
    ts::Response send(const std::string& method, const std::string& target,
                      const std::string& token, const std::string& data = "") {
        std::vector<std::string> headers = {"Content-Type: application/json"};
        if (!token.empty())
            headers.push_back("X-Auth-Token: " + token);
        return ts::request(tree.port, method, target, headers, data);
    }
    ts::Response login(const std::string& user, const std::string& password) {
        return send("POST", kSessions, "", Json{{"UserName", user}, {"Password", password}}.dump());
    }
    // Creates an account and logs it in; the account's URI and token.
    std::pair<std::string, std::string> operatorSession(const std::string& user) {
        const ts::Response created =
            send("POST", kAccounts, admin,
                 Json{{"UserName", user}, {"Password", "Operator-pass-1"}, {"RoleId", "Operator"}}
                     .dump());
        EXPECT_EQ(created.status, 201) << created.raw;
        const ts::Response session = login(user, "Operator-pass-1");
        EXPECT_EQ(session.status, 201) << session.raw;
        const Json account = Json::parse(created.body, nullptr, false);
        const std::string uri =
            account.is_object() ? account.value("@odata.id", std::string()) : std::string();
        EXPECT_FALSE(uri.empty()) << created.raw;
        return {uri, session.header("X-Auth-Token")};
    }

    ts::InstallTree tree;
    std::unique_ptr<ts::ServerProcess> server;
    std::string admin;
};

TEST_F(BundledAttack, UnauthenticatedEraseThroughAnEncodedQueryIsRefused) {
    for (const char* escape : {"%3F", "%23", "%3f"}) {
        const ts::Response r =
            send("POST",
                 std::string("/redfish/v1/Chassis/1/Drives/0/Actions/Drive.SecureErase") + escape +
                     "/SessionService/Sessions",
                 "", "{}");
        EXPECT_EQ(r.status, 400) << r.raw;
    }
    EXPECT_EQ(ts::readFile(tree.logDir + "RedfishServer.log").find("erased"), std::string::npos);
    // The logout variant: the plug-in's session and the server's token agree.
    const ts::Response session = login("admin", adminPassword());
    const std::string location = session.header("Location");
    const std::string token = session.header("X-Auth-Token");
    EXPECT_EQ(send("DELETE", location + "%3F", token).status, 400);
    EXPECT_EQ(send("GET", "/redfish/v1/Systems", token).status, 200);
    EXPECT_LT(send("DELETE", location, token).status, 300);
    EXPECT_EQ(send("GET", "/redfish/v1/Systems", token).status, 401);
}

TEST_F(BundledAttack, OperatorCannotBecomeAdministrator) {
    const auto [account, op] = operatorSession("op1");
    EXPECT_EQ(send("POST", kAccounts, op,
                   R"({"UserName":"evil","Password":"Evil-pass-12","RoleId":"Administrator"})")
                  .status,
              403);
    EXPECT_EQ(send("PATCH", account, op, R"({"RoleId":"Administrator"})").status, 403);
    EXPECT_EQ(send("DELETE", kSessions + "/1", op).status, 403);
    EXPECT_EQ(send("GET", kAccounts + "/evil", admin).status, 404);
    // Its own password it may change, and keeps the session that did it.
    EXPECT_LT(send("PATCH", account, op, R"({"Password":"Operator-pass-2"})").status, 300);
    EXPECT_EQ(send("GET", "/redfish/v1/Systems", op).status, 200);
    // Storage work stays an Operator's.
    EXPECT_EQ(send("GET", "/redfish/v1/Systems/1/Storage/1/Volumes", op).status, 200);
}

TEST_F(BundledAttack, RevokedAccountsLoseTheirTokensAtOnce) {
    const std::pair<const char*, const char*> changes[] = {
        {"PATCH", R"({"Enabled":false})"},
        {"PATCH", R"({"RoleId":"ReadOnlyUser"})"},
        {"PATCH", R"({"Password":"Changed-pass-9"})"},
        {"DELETE", ""},
    };
    int i = 0;
    for (const auto& change : changes) {
        const auto [account, op] = operatorSession("op-" + std::to_string(i++));
        ASSERT_EQ(send("GET", "/redfish/v1/Systems", op).status, 200);
        const ts::Response changed = send(change.first, account, admin, change.second);
        EXPECT_LT(changed.status, 300) << change.second << "\n" << changed.raw;
        EXPECT_EQ(send("GET", "/redfish/v1/Systems", op).status, 401) << change.second;
        EXPECT_EQ(send("POST", kAccounts, op,
                       R"({"UserName":"late","Password":"Late-pass-12","RoleId":"Administrator"})")
                      .status,
                  401);
    }
}

TEST_F(BundledAttack, WrongPasswordsFromOneAddressDoNotLockTheAdministratorOut) {
    if (!securitytest::secondAddressWorks(tree.port))
        GTEST_SKIP() << "no second loopback address here";
    const std::string text =
        ts::requestText(tree.port, "POST", kSessions, {"Content-Type: application/json"},
                        Json{{"UserName", "admin"}, {"Password", "wrong-guess"}}.dump());
    for (int i = 0; i < 5; ++i) {
        const std::string raw = securitytest::exchangeFrom("127.0.0.2", tree.port, text);
        EXPECT_EQ(ts::parseResponse(raw).status, 401) << raw;
    }
    EXPECT_EQ(login("admin", adminPassword()).status, 201)
        << "the real administrator is not locked";
}

} // namespace
