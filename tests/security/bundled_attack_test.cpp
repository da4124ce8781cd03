// The attacks that went through the server into the bundled storage plug-in,
// tried again end to end (plain HTTP, so that one test can speak from a
// second loopback address).
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <regex>
#include <thread>
#include <string>
#include <vector>

#include "testsupport.h"

namespace {

using Json = nlohmann::json;

const std::string kAccounts = "/redfish/v1/AccountService/Accounts";
const std::string kSessions = "/redfish/v1/SessionService/Sessions";

// Every attack in both protocol profiles.
class BundledAttack : public ::testing::TestWithParam<const char*>, protected ts::BundledServer {
  protected:
    BundledAttack() : ts::BundledServer(ts::bundled(GetParam())) {}
    bool standard() const { return std::string(GetParam()) == "Standard"; }
    void SetUp() override { startAsAdmin(); }
    void startAsAdmin() {
        ASSERT_EQ(start(), "");
        admin = login("admin", password());
        ASSERT_FALSE(admin.empty());
    }
    // Creates an account and logs it in as `loginName` (the user name when
    // empty); the account's URI and token.
    std::pair<std::string, std::string> operatorSession(const std::string& user,
                                                        const std::string& loginName = "",
                                                        Json account = Json::object()) {
        account.update(Json{{"UserName", user}, {"Password", "Operator-pass-1"}});
        if (!account.contains("RoleId"))
            account["RoleId"] = "Operator";
        const ts::Response created = send("POST", kAccounts, admin, account.dump());
        EXPECT_EQ(created.status, 201) << created.raw;
        const ts::Response session =
            createSession(loginName.empty() ? user : loginName, "Operator-pass-1");
        EXPECT_EQ(session.status, 201) << session.raw;
        const Json made = Json::parse(created.body, nullptr, false);
        const std::string uri =
            made.is_object() ? made.value("@odata.id", std::string()) : std::string();
        EXPECT_FALSE(uri.empty()) << created.raw;
        return {uri, session.header("X-Auth-Token")};
    }
    std::string admin;
};

TEST_P(BundledAttack, UnauthenticatedEraseThroughAnEncodedQueryIsRefused) {
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
    const ts::Response session = createSession("admin", password());
    const std::string location = session.header("Location");
    const std::string token = session.header("X-Auth-Token");
    EXPECT_EQ(send("DELETE", location + "%3F", token).status, 400);
    EXPECT_EQ(send("GET", "/redfish/v1/Systems", token).status, 200);
    EXPECT_LT(send("DELETE", location, token).status, 300);
    EXPECT_EQ(send("GET", "/redfish/v1/Systems", token).status, 401);
}

TEST_P(BundledAttack, OperatorCannotBecomeAdministrator) {
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

// A login spelled in another letter case is the same account: it ends with
// every change of what the account may do, and so do its Basic credentials.
TEST_P(BundledAttack, RevokedAccountsLoseTheirTokensAtOnceInAnyLetterCase) {
    const Json osAdministrator = {{"RoleId", "OSUser"},
                                  {"Oem", {{"Veltrano", {{"OSPrivilegeLevel", "Administrator"}}}}}};
    const struct {
        Json account;
        const char* method;
        const char* change;
        int basicAfter; // right credentials of a refused role: refused, but not as wrong
    } changes[] = {
        {Json::object(), "PATCH", R"({"Enabled":false})", 401},
        {Json::object(), "PATCH", R"({"RoleId":"ReadOnlyUser"})", 403},
        {Json::object(), "PATCH", R"({"Password":"Changed-pass-9"})", 401},
        {Json::object(), "DELETE", "", 401},
        {osAdministrator, "PATCH", R"({"Oem":{"Veltrano":{"OSPrivilegeLevel":"ReadOnlyUser"}}})",
         403},
    };
    int i = 0;
    for (const auto& c : changes) {
        const std::string user = "op-" + std::to_string(i++);
        const auto [account, op] = operatorSession(user, "OP-" + user.substr(3), c.account);
        const std::string basic =
            "Basic " + ts::base64("OP-" + user.substr(3) + ":Operator-pass-1");
        ASSERT_EQ(send("GET", "/redfish/v1/Systems", op).status, 200);
        if (standard()) {
            ASSERT_EQ(send("GET", "/redfish/v1/Systems", basic).status, 200);
        }
        const ts::Response changed = send(c.method, account, admin, c.change);
        EXPECT_LT(changed.status, 300) << c.change << "\n" << changed.raw;
        for (const std::string& credentials : {op, basic}) {
            if (credentials == basic && !standard())
                continue;
            const int refused = credentials == basic ? c.basicAfter : 401;
            EXPECT_EQ(send("GET", "/redfish/v1/Systems", credentials).status, refused) << c.change;
            EXPECT_EQ(
                send("POST", kAccounts, credentials,
                     R"({"UserName":"late","Password":"Late-pass-12","RoleId":"Administrator"})")
                    .status,
                refused);
        }
    }
}

// The server's table decides: what the plug-in forgot can still be listed,
// read and ended by its owner.
TEST_P(BundledAttack, SessionsThePluginForgotCanStillBeEnded) {
    const auto [account, op] = operatorSession("forgotten");
    const ts::Response session = createSession("forgotten", "Operator-pass-1");
    const std::string location = session.header("Location");
    const std::string token = session.header("X-Auth-Token");
    // The plug-in ends every session of an account whose password changes;
    // the server keeps the one that changed it.
    ASSERT_LT(send("PATCH", account, token, R"({"Password":"Operator-pass-2"})").status, 300);
    const Json listed = Json::parse(send("GET", kSessions, admin).body, nullptr, false);
    EXPECT_NE(listed.dump().find(location), std::string::npos);
    EXPECT_EQ(listed.value("Members@odata.count", 0u), listed["Members"].size()) << listed;
    EXPECT_EQ(send("GET", location, admin).status, 200);
    EXPECT_LT(send("DELETE", location, token).status, 300);
    EXPECT_EQ(send("GET", "/redfish/v1/Systems", token).status, 401);
    EXPECT_EQ(send("GET", kSessions, admin).body.find(location), std::string::npos);
    EXPECT_EQ(send("GET", "/redfish/v1/Systems", op).status, 401) << "revoked with the change";
}

TEST_P(BundledAttack, OneAccountCannotFillTheSessionTable) {
    operatorSession("reader", "", Json{{"RoleId", "ReadOnly"}});
    std::vector<std::string> tokens;
    for (int i = 0; i < 9; ++i) { // one more than an account may hold
        const ts::Response r = createSession("READER", "Operator-pass-1");
        ASSERT_EQ(r.status, 201) << r.raw;
        tokens.push_back(r.header("X-Auth-Token"));
    }
    EXPECT_EQ(send("GET", "/redfish/v1/Systems", tokens.front()).status, 401);
    EXPECT_EQ(send("GET", "/redfish/v1/Systems", tokens.back()).status, 200);
    EXPECT_EQ(createSession("admin", password()).status, 201);
}

// A change sent with If-Match is checked and made as one step.
TEST_P(BundledAttack, ConcurrentChangesWithOneTagLetOnlyOneThrough) {
    if (!standard())
        GTEST_SKIP() << "the classic profile does not check If-Match";
    const auto [account, op] = operatorSession("tagged");
    const std::string tag = send("GET", account, admin).header("ETag");
    ASSERT_FALSE(tag.empty());
    std::atomic<int> succeeded{0};
    std::vector<std::thread> clients;
    for (int i = 0; i < 6; ++i)
        clients.emplace_back([&, i] {
            // A password change hashes for a while: the widest window.
            const ts::Response r =
                send("PATCH", account, admin,
                     Json{{"Password", "Tagged-pass-" + std::to_string(i)}}.dump(),
                     {"If-Match: " + tag});
            succeeded += r.status / 100 == 2;
        });
    for (std::thread& t : clients)
        t.join();
    EXPECT_EQ(succeeded.load(), 1);
}

TEST_P(BundledAttack, WrongPasswordsFromOneAddressDoNotLockTheAdministratorOut) {
    if (!ts::Connection(tree.port, ts::fromAddress()).connected())
        GTEST_SKIP() << "no second loopback address here";
    const std::string text =
        ts::requestText(tree.port, "POST", kSessions, {"Content-Type: application/json"},
                        Json{{"UserName", "admin"}, {"Password", "wrong-guess"}}.dump());
    for (int i = 0; i < 5; ++i) {
        const std::string raw = ts::exchange(tree.port, text, ts::fromAddress());
        EXPECT_EQ(ts::parseResponse(raw).status, 401) << raw;
    }
    EXPECT_EQ(createSession("admin", password()).status, 201)
        << "the real administrator is not locked";
}

// Passwords reach the plug-in as sent; a role the server will not let act is
// refused at the standard login, not given a token that never works.
TEST_P(BundledAttack, PasswordsAsSentAndRefusedRolesAtTheLogin) {
    const std::pair<const char*, const char*> accounts[] = {{"Operator", R"(back\slash-1)"},
                                                            {"Operator", R"(quote"mark-1)"},
                                                            {"Operator", R"(\"both\\)"},
                                                            {"ReadOnlyUser", "Viewer-pass-1"}};
    int i = 0;
    for (const auto& [role, password] : accounts) {
        const std::string user = "user" + std::to_string(i++);
        const Json account = {{"UserName", user}, {"Password", password}, {"RoleId", role}};
        ASSERT_EQ(send("POST", kAccounts, admin, account.dump()).status, 201) << password;
        const ts::Response r = createSession(user, password);
        const bool refused = standard() && std::string(role) == "ReadOnlyUser";
        EXPECT_EQ(r.status, refused ? 403 : 201) << password << "\n" << r.raw;
        EXPECT_EQ(r.body.find("role 'ReadOnlyUser' is restricted") != std::string::npos, refused);
        const std::string basic = "Basic " + ts::base64(user + ":" + password);
        EXPECT_EQ(send("GET", "/redfish/v1/Systems", basic).status, !standard() ? 401
                                                                    : refused   ? 403
                                                                                : 200);
    }
    const std::string log = ts::readFile(tree.logDir + "RedfishServer.log");
    std::smatch opened; // the plug-in's session of the refused login ends with it
    ASSERT_TRUE(std::regex_search(log, opened, std::regex("session (\\S+) opened for \"user3\"")));
    EXPECT_EQ(log.find("session " + opened[1].str() + " closed") != std::string::npos, standard());
}

// The idle time-out is an administrator's setting of the standard service,
// kept across restarts; the classic service keeps its fixed lifetime.
TEST_P(BundledAttack, SessionTimeoutIsAnAdministratorsKeptSetting) {
    const std::string service = "/redfish/v1/SessionService";
    const auto shown = [&] {
        return Json::parse(send("GET", service, admin).body, nullptr, false)
            .value("SessionTimeout", 0);
    };
    EXPECT_EQ(shown(), standard() ? 1800 : 86400);
    const auto [account, op] = operatorSession("no-manager");
    const std::pair<std::string, const char*> refused[] = {
        {R"({"SessionTimeout":29})", "PropertyValueOutOfRange"},
        {R"({"SessionTimeout":86401})", "PropertyValueOutOfRange"},
        {R"({"SessionTimeout":"600"})", "PropertyValueTypeError"},
        {R"({"ServiceEnabled":false})", "PropertyNotWritable"},
        {R"({"IdleTime":600})", "PropertyUnknown"},
        {R"({"SessionTimeout":)", "MalformedJSON"}};
    for (const auto& [body, message] : refused) {
        const ts::Response r = send("PATCH", service, admin, body);
        EXPECT_EQ(r.status, standard() ? 400 : 405) << body << "\n" << r.raw;
        EXPECT_EQ(r.body.find(message) != std::string::npos, standard()) << r.raw;
    }
    EXPECT_EQ(send("PATCH", service, op, R"({"SessionTimeout":600})").status, 403);
    EXPECT_EQ(send("PATCH", service, admin, R"({"SessionTimeout":600})").status,
              standard() ? 200 : 405);
    server.reset();
    startAsAdmin();
    EXPECT_EQ(shown(), standard() ? 600 : 86400);
}

INSTANTIATE_TEST_SUITE_P(Profiles, BundledAttack, ::testing::Values("Classic", "Standard"));

} // namespace
