// Attacks on the logs through the program with the bundled plug-ins: a client
// without credentials floods the operational log, and the audit record of
// logins and account changes has to survive it and keep no secret.
#include <gtest/gtest.h>

#include <unistd.h>

#include "testsupport.h"

namespace {

const std::string kSessions = "/redfish/v1/SessionService/Sessions";

std::string credentials(const std::string& user, const std::string& password) {
    return nlohmann::json{{"UserName", user}, {"Password", password}}.dump();
}

// At least `count` GETs of `target` without credentials, pipelined on kept
// connections; the number of 401 answers.
int unauthenticatedGets(int port, const std::string& target, int count) {
    const std::string one = "GET " + target + " HTTP/1.1\r\nHost: h\r\n";
    std::string batch;
    for (int i = 0; i < 20; ++i)
        batch += one + "\r\n";
    batch += one + "Connection: close\r\n\r\n";
    int answered = 0;
    for (int before = -1; answered < count && answered != before;) {
        before = answered;
        const std::string raw = ts::exchange(port, batch);
        for (size_t at = raw.find("HTTP/1.1 401"); at != std::string::npos;
             at = raw.find("HTTP/1.1 401", at + 1))
            ++answered;
    }
    return answered;
}

} // namespace

TEST(LogFlood, UnauthenticatedFloodCannotRollTheAuditAway) {
    for (const char* profile : {"Standard", "Classic"}) {
        ts::BundledServer s(ts::bundled(profile));
        ASSERT_EQ(s.start(), "") << profile;
        ASSERT_FALSE(s.password().empty()) << profile;
        const int port = s.tree.port;
        EXPECT_EQ(ts::request(port, "POST", kSessions, {}, credentials("admin", "wrong")).status,
                  401);
        const std::string uri = "/redfish/v1/Systems/" + std::string(7000, 'u');
        ASSERT_GE(unauthenticatedGets(port, uri, 2000), 2000) << profile;

        const std::string log = ts::readFile(s.tree.logDir + "RedfishServer.log");
        EXPECT_FALSE(ts::fileExists(s.tree.logDir + "RedfishServer.log.1")) << profile;
        EXPECT_LT(log.size(), 32u * 1024) << profile;
        // The standard profile listens on IPv6 too: the address may be IPv4-mapped.
        EXPECT_NE(log.find("127.0.0.1: /redfish/v1/Systems/" + std::string(236, 'u') +
                           "...[cut 6764 bytes]\n"),
                  std::string::npos)
            << profile;
        const std::string audit = ts::readFile(s.tree.logDir + "RedfishAudit.log");
        EXPECT_NE(audit.find("127.0.0.1 user=\"admin\" event=Login outcome=401 failure"),
                  std::string::npos)
            << profile << "\n"
            << audit;
    }
}

TEST(LogFlood, AccountChangesAndLogoutsReachTheAuditWithoutSecrets) {
    ts::BundledServer s(ts::bundled("Standard"));
    ASSERT_EQ(s.start(), "");
    ASSERT_FALSE(s.password().empty());
    const ts::Response admin =
        ts::request(s.tree.port, "POST", kSessions, {}, credentials("admin", s.password()));
    ASSERT_EQ(admin.status, 201) << admin.raw;
    const std::string token = "X-Auth-Token: " + admin.header("X-Auth-Token");
    const std::string json = "Content-Type: application/json";
    const ts::Response created =
        ts::request(s.tree.port, "POST", "/redfish/v1/AccountService/Accounts", {token, json},
                    R"({"UserName":"eve","Password":"Secret-pw-1","RoleId":"Operator"})");
    const std::string eve = created.header("Location");
    ASSERT_EQ(created.status, 201) << created.raw;
    struct Step {
        std::string method, target, header, body, audited;
    } steps[] = {
        {"GET", "/redfish/v1/Systems", ts::basicAuth("eve", "Wrong-pw-2"), "",
         "user=\"eve\" event=BasicLogin outcome=401 failure"},
        {"PATCH", eve, token, R"({"Password":"Other-pw-3"})",
         "user=\"admin\" event=AccountChange outcome=200 success target=" + eve +
             " account=\"eve\" members=Password"},
        {"DELETE", eve, token, "", "user=\"admin\" event=AccountDelete outcome=20"},
        {"DELETE", admin.header("Location"), token, "", "event=SessionDelete outcome=20"},
    };
    for (const Step& step : steps)
        ts::request(s.tree.port, step.method, step.target, {step.header, json}, step.body);
    const std::string audit = ts::readFile(s.tree.logDir + "RedfishAudit.log");
    for (const char* line :
         {"user=\"admin\" event=Login outcome=201 success",
          "user=\"admin\" event=AccountCreate outcome=201 success target=/redfish/"
          "v1/AccountService/Accounts account=\"eve\" members=UserName,Password"})
        EXPECT_NE(audit.find(line), std::string::npos) << line << "\n" << audit;
    for (const Step& step : steps)
        EXPECT_NE(audit.find(step.audited), std::string::npos) << step.audited << "\n" << audit;
    for (const std::string& secret :
         {s.password(), std::string("Secret-pw-1"), std::string("Wrong-pw-2"),
          std::string("Other-pw-3"), admin.header("X-Auth-Token")})
        EXPECT_EQ(audit.find(secret), std::string::npos) << secret;
}
