// Logins against the real program: the argument handed to the plug-in, the
// 201 head with token and cookie, the session table and logout.
#include <gtest/gtest.h>

#include <ctime>
#include <regex>

#include "poste2e.h"

using poste2e::contains;
using poste2e::kSessions;

namespace {

constexpr const char* kSystems = "/redfish/v1/Systems";

class LoginTest : public poste2e::ServerTest {
  protected:
    ts::InstallOptions installOptions() override {
        ts::InstallOptions o;
        o.extraConfig = "\"SessionTimeout\": 1800";
        o.debugMask = 3; // the per-request DEBUG lines are read
        return o;
    }
};

std::string localTimeText(std::time_t t) {
    std::tm local{};
    localtime_r(&t, &local);
    char text[64];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

// What follows the Parts' cookie text over plain HTTP.
const char kCookieAttributes[] = "; Path=/redfish; HttpOnly; SameSite=Strict";

} // namespace

TEST_F(LoginTest, LowerCaseLoginNeedsNoAuthorisation) {
    tree->setReply("POST", R"({"response":{"HttpStatus":401,"Data":{"error":"bad"}}})");
    ts::Response r = post("/redfish/v1/sessionservice/sessions/", R"({"UserName":"a"})");
    EXPECT_EQ(r.status, 401);
    auto calls = callsOf("POST");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0]["uri"], "/redfish/v1/sessionservice/sessions/");
    EXPECT_EQ(calls[0]["body"],
              R"({"x-forwarded-for":"127.0.0.1","requestBody":"{\"UserName\":\"a\"}",)"
              R"("clientAddress":"127.0.0.1"})");
}

TEST_F(LoginTest, SuccessfulLoginHead) {
    const std::time_t before = std::time(nullptr);
    ts::Response r = login("abc123", "/redfish/v1/SessionService/Sessions/7");
    const std::time_t after = std::time(nullptr);
    ASSERT_EQ(r.status, 201) << r.raw;
    EXPECT_EQ(r.statusLine, "HTTP/1.1 201 Created");
    // Headers in the order the login adds them, then the library's Date.
    std::vector<std::string> names;
    for (auto& h : r.headers)
        names.push_back(h.first);
    EXPECT_EQ(names, (std::vector<std::string>{"Location", "X-Auth-Token", "Set-Cookie", "Expires",
                                               "Max-Age", "Cache-Control", "Content-Type",
                                               "Connection", "Date"}));
    EXPECT_EQ(r.header("Location"), "/redfish/v1/SessionService/Sessions/7");
    EXPECT_EQ(r.header("X-Auth-Token"), "abc123");
    EXPECT_EQ(r.header("Set-Cookie"), "sessionId =abc123" + std::string(kCookieAttributes));
    EXPECT_EQ(r.header("Cache-Control"), "no-store");
    EXPECT_EQ(r.header("Max-Age"), "1800");
    const std::string expires = r.header("Expires");
    EXPECT_TRUE(expires == localTimeText(before + 1800) || expires == localTimeText(after + 1800))
        << expires;
    EXPECT_EQ(r.header("Content-Type"), "application/json");
    EXPECT_EQ(r.header("Connection"), "keep-alive");
    EXPECT_TRUE(contains(r.headerBlock, "\r\nSet-Cookie: sessionId =abc123;"));
    // The body comes from the session data taken as a reply envelope; session
    // data without a status gives "{}".
    EXPECT_EQ(r.body, "{}");
}

TEST_F(LoginTest, SessionDataEnvelopeGivesTheBody) {
    nlohmann::ordered_json reply;
    reply["response"]["HttpStatus"] = 201;
    reply["response"]["Data"]["HttpStatus"] = 201;
    reply["response"]["Data"]["Data"]["Id"] = "7";
    reply["response"]["Data"]["Role"] = poste2e::kAdminRole;
    reply["response"]["Data"]["OSPrivilegeLevel"] = "Administrator";
    reply["response"]["Headers"]["X-Auth-Token"] = "t7";
    reply["response"]["Headers"]["Location"] = "/redfish/v1/SessionService/Sessions/7";
    tree->setReply(std::string("POST ") + kSessions, reply.dump());
    ts::Response r = post(kSessions, R"({"UserName":"a","Password":"b"})");
    EXPECT_EQ(r.status, 201);
    EXPECT_EQ(r.body, R"({"Id":"7"})");
    EXPECT_EQ(send("GET", kSystems, "t7").status, 200);
}

TEST_F(LoginTest, TokenAuthorisesEveryMethodFromThatAddressOnly) {
    ASSERT_EQ(login("tok-A", "/redfish/v1/SessionService/Sessions/1").status, 201);
    EXPECT_EQ(send("GET", kSystems, "tok-A").status, 200);
    EXPECT_EQ(send("PATCH", kSystems + std::string("/1"), "tok-A", "{}").status, 200);
    EXPECT_EQ(send("POST", kSystems + std::string("/1/Actions/X"), "tok-A", "{}").status, 200);
    EXPECT_EQ(send("DELETE", kSystems + std::string("/1"), "tok-A").status, 200);
    // The cookie the login set works as well.
    EXPECT_EQ(ts::request(tree->port, "GET", kSystems, {"Cookie: sessionId =tok-A"}).status, 200);

    EXPECT_EQ(send("GET", kSystems, "").status, 401);
    EXPECT_EQ(send("GET", kSystems, "tok-B").status, 401);
    // The same token from another address of this host.
    const std::string raw = ts::exchange(
        tree->port, ts::requestText(tree->port, "GET", kSystems, {"X-Auth-Token: tok-A"}),
        ts::fromAddress());
    ASSERT_FALSE(raw.empty());
    EXPECT_EQ(ts::parseResponse(raw).status, 401);
}

TEST_F(LoginTest, SecondLoginGivesASecondTokenAndLogoutEndsOnlyOne) {
    ASSERT_EQ(login("first", "/redfish/v1/SessionService/Sessions/1").status, 201);
    ts::Response second = login("second", "/redfish/v1/SessionService/Sessions/2");
    ASSERT_EQ(second.status, 201);
    EXPECT_EQ(second.header("X-Auth-Token"), "second");
    EXPECT_EQ(second.header("Set-Cookie"), "sessionId =second" + std::string(kCookieAttributes));
    EXPECT_EQ(send("GET", kSystems, "first").status, 200);
    EXPECT_EQ(send("GET", kSystems, "second").status, 200);

    tree->setReply("DELETE", R"({"HttpStatus":204})");
    EXPECT_EQ(send("DELETE", "/redfish/v1/SessionService/Sessions/1", "first").status, 204);
    EXPECT_EQ(send("GET", kSystems, "first").status, 401);
    EXPECT_EQ(send("GET", kSystems, "second").status, 200);
}

TEST_F(LoginTest, RefusedLoginStoresNothing) {
    tree->setReply("POST", R"({"response":{"HttpStatus":401,"Data":{"error":"bad"},)"
                           R"("Headers":{"X-Auth-Token":"nope","Location":"/x"}}})");
    ts::Response r = post(kSessions, R"({"UserName":"a","Password":"b"})");
    EXPECT_EQ(r.headerBlock, "HTTP/1.1 401 Unauthorized\r\nContent-Type:application/json\r\n"
                             "Connection: keep-alive\r\n\r\n");
    EXPECT_EQ(r.body, R"({"error":"bad"})");
    EXPECT_FALSE(r.hasHeader("Set-Cookie"));
    EXPECT_FALSE(r.hasHeader("X-Auth-Token"));
    EXPECT_EQ(send("GET", kSystems, "nope").status, 401);
}

TEST_F(LoginTest, BodyPassedAsSentAndCredentialsMasked) {
    const std::string body = R"({"UserName":"admin","Password":"pa\\ss\word"})";
    tree->setReply("POST", poste2e::loginReply("hidden-token-xyz", "/s/1"));
    ts::Response r = post(kSessions, body);
    ASSERT_EQ(r.status, 201);
    auto calls = callsOf("POST");
    ASSERT_EQ(calls.size(), 1u);
    nlohmann::json argument = nlohmann::json::parse(calls[0]["body"].get<std::string>());
    EXPECT_EQ(argument["requestBody"], body);
    EXPECT_EQ(argument["x-forwarded-for"], "127.0.0.1");

    const std::string trace = tree->traceLog();
    EXPECT_TRUE(contains(trace, "Request Arguments     : {UserName: ******, ******:******}\n"))
        << trace;
    EXPECT_FALSE(contains(trace, "password"));
    EXPECT_FALSE(contains(trace, "admin"));
    // A login writes no response record.
    EXPECT_FALSE(contains(trace, "Response HTTP Status  : 201"));
    const std::string log = tree->capturedLog();
    EXPECT_TRUE(contains(log, "Plugin Response : ")) << log;
    EXPECT_FALSE(contains(log, "hidden-token-xyz")) << log;
    EXPECT_FALSE(contains(log, "pa\\\\ss"));
}

TEST_F(LoginTest, LineBreaksInHeadersAreRefused) {
    for (const char* location : {"/s/1\r\nX-Evil: 1", "/s/1\nX-Evil: 1"}) {
        tree->setReply("POST", poste2e::loginReply("tok-evil", location));
        ts::Response r = post(kSessions, R"({"UserName":"a","Password":"b"})");
        EXPECT_EQ(r.raw, "HTTP/1.1 500 Internal Error\r\nContent-Type:application/json\r\n"
                         "Connection: keep-alive\r\n\r\nInternal Error");
    }
    tree->setReply("POST", poste2e::loginReply("tok\r\nX-Evil: 1", "/s/2"));
    ts::Response r = post(kSessions, R"({"UserName":"a","Password":"b"})");
    EXPECT_EQ(r.status, 500);
    EXPECT_FALSE(r.hasHeader("X-Evil"));
    EXPECT_EQ(send("GET", kSystems, "tok-evil").status, 401);
}

TEST_F(LoginTest, ReplyWithoutHeadersSucceedsWithoutASession) {
    tree->setReply("POST", R"({"response":{"HttpStatus":201,"Data":{"Role":"x",)"
                           R"("OSPrivilegeLevel":"y"}}})");
    ts::Response r = post(kSessions, "{}");
    EXPECT_EQ(r.status, 201);
    EXPECT_EQ(r.header("X-Auth-Token"), "root parse failed");
    EXPECT_EQ(r.header("Location"), "root parse failed");
    EXPECT_EQ(send("GET", kSystems, "root parse failed").status, 401);

    tree->setReply("POST", R"({"response":{"HttpStatus":201,"Data":{"Role":"x",)"
                           R"("OSPrivilegeLevel":"y"},"Headers":{}}})");
    r = post(kSessions, "{}");
    EXPECT_EQ(r.status, 201);
    EXPECT_EQ(r.header("X-Auth-Token"), "{}");
    EXPECT_EQ(send("GET", kSystems, "{}").status, 401);
}

TEST_F(LoginTest, PlainEnvelopesAndNonJsonReplies) {
    tree->setReply("POST", R"({"HttpStatus":400,"Data":{"e":1}})");
    ts::Response r = post(kSessions, "{}");
    EXPECT_EQ(r.raw, "HTTP/1.1 400 Bad Request\r\nContent-Type:application/json\r\n"
                     "Connection: keep-alive\r\n\r\n{\"e\":1}");
    tree->setReply("POST", R"({"Data":{"e":1}})");
    r = post(kSessions, "{}");
    EXPECT_EQ(r.status, 500);
    EXPECT_EQ(r.body, "{}");
    tree->setReply("POST", "<html>");
    r = post(kSessions, "{}");
    EXPECT_EQ(r.raw, "HTTP/1.1 500 Internal Error\r\nContent-Type:application/json\r\n"
                     "Connection: keep-alive\r\n\r\nInternal Error");
}

TEST_F(LoginTest, LongTokensArePassedWhole) {
    const std::string token(3000, 'T');
    ts::Response r = login(token, "/redfish/v1/SessionService/Sessions/9");
    ASSERT_EQ(r.status, 201);
    EXPECT_EQ(r.header("X-Auth-Token"), token);
    EXPECT_EQ(r.header("Set-Cookie"), "sessionId =" + token + kCookieAttributes);
    EXPECT_EQ(send("GET", kSystems, token).status, 200);
}

namespace {

class SessionCapTest : public poste2e::ServerTest {
  protected:
    ts::InstallOptions installOptions() override {
        ts::InstallOptions o;
        o.extraConfig = "\"MaximumNumberOfConcurrentSessions\": 2";
        return o;
    }
};

class NoPostEntryTest : public poste2e::ServerTest {
  protected:
    ts::InstallOptions installOptions() override {
        ts::InstallOptions o;
        o.resourcePlugin = ts::scriptedPlugin("NoPost");
        o.debugMask = 3;
        return o;
    }
};

} // namespace

TEST_F(SessionCapTest, OldestSessionGivesWay) {
    ASSERT_EQ(login("one", "/redfish/v1/SessionService/Sessions/1").status, 201);
    ASSERT_EQ(login("two", "/redfish/v1/SessionService/Sessions/2").status, 201);
    ASSERT_EQ(login("three", "/redfish/v1/SessionService/Sessions/3").status, 201);
    EXPECT_EQ(send("GET", kSystems, "one").status, 401);
    EXPECT_EQ(send("GET", kSystems, "two").status, 200);
    EXPECT_EQ(send("GET", kSystems, "three").status, 200);
}

TEST_F(NoPostEntryTest, MissingEntryPointGivesTheHeadOnly) {
    ts::Response r = post(kSessions, R"({"UserName":"a","Password":"b"})");
    // Nothing follows our head: the library adds no page of its own.
    EXPECT_EQ(r.raw, "HTTP/1.1 500 Internal Error\r\nContent-Type:application/json\r\n"
                     "Connection: keep-alive\r\n\r\n");
    EXPECT_TRUE(
        contains(tree->capturedLog(),
                 "RedfishServerHandler::handlePost()::[DEBUG] POST command handler is NULL "))
        << tree->capturedLog();
}

TEST_F(LoginTest, LogLinesNameTheOperation) {
    ASSERT_EQ(login("logged", "/redfish/v1/SessionService/Sessions/4").status, 201);
    const std::string log = tree->capturedLog();
    EXPECT_TRUE(contains(log, "REDFISHSERVER:postredfishhandler.cpp:") &&
                contains(log, ":RedfishServerHandler::handlePost()::[DEBUG]Entry"))
        << log;
    EXPECT_TRUE(contains(log, "RedfishServerHandler::handlePost()::[DEBUG]HTTP POST request "
                              "received for URI = /redfish/v1/SessionService/Sessions\n"));
    EXPECT_TRUE(contains(log, "RedfishServerHandler::handlePost()::[DEBUG]Exit"));
}
