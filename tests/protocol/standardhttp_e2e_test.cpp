// The HTTP a standard client sees from the program with the bundled plug-ins:
// persistent connections, HEAD, OPTIONS, 405, 501, and changes guarded by
// entity tags.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "testsupport.h"

namespace {

const char* const kAccounts = "/redfish/v1/AccountService/Accounts";

std::string messageIdOf(const ts::Response& r) {
    const nlohmann::json body = nlohmann::json::parse(r.body, nullptr, false);
    const nlohmann::json info = body.is_object() && body.contains("error")
                                    ? body["error"].value("@Message.ExtendedInfo", nlohmann::json())
                                    : nlohmann::json();
    if (!info.is_array() || info.empty() || !info[0].is_object())
        return "(no error messages) " + r.body;
    return info[0].value("MessageId", "");
}

} // namespace

// Answers carry their length, so one connection serves several requests and
// a client's "Connection: close" still ends it.
TEST(StandardHttp, OneConnectionServesSeveralRequests) {
    ts::BundledServer s(ts::bundled("Standard"));
    ASSERT_EQ(s.start(), "");
    const std::string raw =
        ts::exchange(s.tree.port, "GET /redfish/v1/ HTTP/1.1\r\nHost: a\r\n\r\n"
                                  "HEAD /redfish/v1/ HTTP/1.1\r\nHost: a\r\n\r\n"
                                  "GET /redfish HTTP/1.1\r\nHost: a\r\nConnection: close\r\n\r\n");
    const ts::Response first = ts::parseResponse(raw);
    ASSERT_EQ(first.status, 200) << raw;
    EXPECT_EQ(first.header("Connection"), "keep-alive");
    const size_t length = std::stoul(first.header("Content-Length"));
    const std::string rest = raw.substr(first.headerBlock.size() + length);
    const ts::Response head = ts::parseResponse(rest);
    ASSERT_EQ(head.status, 200) << rest;
    EXPECT_EQ(head.header("Content-Length"), first.header("Content-Length"));
    EXPECT_EQ(head.header("ETag"), first.header("ETag"));
    const ts::Response last = ts::parseResponse(rest.substr(head.headerBlock.size()));
    EXPECT_EQ(last.status, 200) << rest;
    EXPECT_EQ(last.header("Connection"), "close");
    EXPECT_NE(last.body.find("\"v1\""), std::string::npos) << last.body;
}

// A request whose body is framed two ways may have been read differently by
// a proxy in front; whatever follows it on the connection is never taken as
// a request of its own (request smuggling).
TEST(StandardHttp, AmbiguouslyFramedRequestEndsItsConnection) {
    ts::BundledServer s(ts::bundled("Standard"));
    ASSERT_EQ(s.start(), "");
    const std::string smuggled = "GET /redfish HTTP/1.1\r\nHost: a\r\n\r\n";
    const std::string framings[] = {
        "Content-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n",
        "Transfer-Encoding: chunked\r\nContent-Length: 5\r\n\r\n0\r\n\r\n",
        "Content-Length: 0\r\nContent-Length: 0\r\n\r\n",
    };
    for (const std::string& framing : framings) {
        const std::string raw = ts::exchange(
            s.tree.port, "GET /redfish/v1/ HTTP/1.1\r\nHost: a\r\n" + framing + smuggled);
        const ts::Response first = ts::parseResponse(raw);
        EXPECT_EQ(first.header("Connection"), "close") << framing << raw;
        EXPECT_EQ(raw.find("HTTP/1.1", 1), std::string::npos) << framing << raw;
    }
}

// Answers are collected per request before they go out: clients at the same
// time, several requests each on one connection, each get their own answers
// in order and never another's.
TEST(StandardHttp, ConcurrentClientsNeverGetAnotherClientsAnswer) {
    ts::BundledServer s(ts::bundled("Standard"));
    ASSERT_EQ(s.start(), "");
    const std::string auth = ts::basicAuth("admin", s.password());
    const std::vector<std::string> targets = {"/redfish/v1/Systems/1", "/redfish/v1/Chassis/1",
                                              "/redfish/v1/Managers/1", "/redfish/v1/"};
    constexpr int kClients = 8;
    std::vector<std::string> problems(kClients);
    std::vector<std::thread> clients;
    for (int c = 0; c < kClients; ++c) {
        clients.emplace_back([&, c] {
            std::string bytes;
            for (size_t i = 0; i < targets.size(); ++i) {
                const std::string& target = targets[(i + static_cast<size_t>(c)) % targets.size()];
                bytes += "GET " + target + " HTTP/1.1\r\nHost: a\r\n" + auth + "\r\n" +
                         (i + 1 == targets.size() ? "Connection: close\r\n" : "") + "\r\n";
            }
            std::string rest = ts::exchange(s.tree.port, bytes);
            for (size_t i = 0; i < targets.size(); ++i) {
                const std::string& target = targets[(i + static_cast<size_t>(c)) % targets.size()];
                const ts::Response r = ts::parseResponse(rest);
                const std::string length = r.header("Content-Length");
                const nlohmann::json body = nlohmann::json::parse(
                    rest.substr(r.headerBlock.size(), length.empty() ? 0 : std::stoul(length)),
                    nullptr, false);
                const std::string id = body.is_object() ? body.value("@odata.id", "") : "";
                if (r.status != 200 || id + (target.back() == '/' ? "/" : "") != target) {
                    problems[static_cast<size_t>(c)] =
                        target + " answered " + r.statusLine + " " + id;
                    return;
                }
                rest.erase(0, r.headerBlock.size() + (length.empty() ? 0 : std::stoul(length)));
            }
        });
    }
    for (auto& t : clients)
        t.join();
    for (int c = 0; c < kClients; ++c)
        EXPECT_EQ(problems[static_cast<size_t>(c)], "") << "client " << c;
}

// Methods a resource does not take are named as such, with what it takes.
TEST(StandardHttp, MethodsAndQueriesTheServiceDoesNotTakeAreNamed) {
    ts::BundledServer s(ts::bundled("Standard"));
    ASSERT_EQ(s.start(), "");
    const std::string auth = ts::basicAuth("admin", s.password());
    const struct {
        const char* method;
        const char* target;
        int status;
        const char* messageId;
        const char* allow;
        std::vector<std::string> extra = {};
    } cases[] = {
        {"PUT", "/redfish/v1/Systems", 405, "Base.1.22.1.OperationNotAllowed", "GET, HEAD"},
        {"BREW", "/redfish/v1/Systems", 501, "Base.1.22.1.OperationNotAllowed", ""},
        {"GET", "/redfish/v1/Systems?$select=Id", 501, "Base.1.22.1.QueryParameterUnsupported", ""},
        {"GET", "/redfish/v1/Systems?$top=x", 400, "Base.1.22.1.QueryParameterValueFormatError",
         ""},
        {"GET", "/elsewhere", 404, "Base.1.22.1.ResourceMissingAtURI", ""},
        {"DELETE", "/redfish/v1/Systems", 405, "Base.1.22.1.OperationNotAllowed", "GET, HEAD"},
        {"PATCH",
         "/redfish/v1/Systems/1",
         413,
         "Base.1.22.1.PayloadTooLarge",
         "",
         {"Content-Type: application/json", "Content-Length: 999999999"}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> headers = c.extra;
        headers.push_back(auth);
        const ts::Response r = ts::request(s.tree.port, c.method, c.target, headers);
        EXPECT_EQ(r.status, c.status) << c.method << " " << c.target << "\n" << r.raw;
        EXPECT_EQ(messageIdOf(r), c.messageId) << c.method << " " << c.target;
        if (*c.allow) {
            EXPECT_EQ(r.header("Allow"), c.allow) << c.method << " " << c.target;
        }
    }
    const ts::Response options = ts::request(s.tree.port, "OPTIONS", kAccounts);
    EXPECT_EQ(options.status, 200) << options.raw;
    EXPECT_EQ(options.header("Allow"), "GET, HEAD, POST");
    EXPECT_EQ(options.body, "");
}

// A client that read a resource cannot overwrite or delete a newer version
// of it (a lost update), and nobody learns an entity tag before the login.
TEST(StandardHttp, StaleIfMatchCannotOverwriteOrDelete) {
    ts::BundledServer s(ts::bundled("Standard"));
    ASSERT_EQ(s.start(), "");
    const std::string auth = ts::basicAuth("admin", s.password());
    const ts::Response created =
        ts::request(s.tree.port, "POST", kAccounts, {auth, "Content-Type: application/json"},
                    R"({"UserName":"op1","Password":"Operator-pass-1","RoleId":"Operator"})");
    ASSERT_EQ(created.status, 201) << created.raw;
    const std::string account = created.header("Location");
    ASSERT_FALSE(account.empty()) << created.raw;

    const ts::Response read = ts::request(s.tree.port, "GET", account, {auth});
    const std::string tag = read.header("ETag");
    ASSERT_FALSE(tag.empty()) << read.raw;
    // Header and payload name the same version.
    EXPECT_EQ(nlohmann::json::parse(read.body, nullptr, false).value("@odata.etag", ""), tag);
    EXPECT_EQ(ts::request(s.tree.port, "GET", account, {auth, "If-None-Match: " + tag}).status,
              304);

    const std::string readOnly = R"({"RoleId":"ReadOnly"})";
    const std::string json = "Content-Type: application/json";
    EXPECT_EQ(
        ts::request(s.tree.port, "PATCH", account, {"If-Match: " + tag, json}, readOnly).status,
        401);
    const ts::Response stale =
        ts::request(s.tree.port, "PATCH", account, {auth, "If-Match: \"0123\"", json}, readOnly);
    EXPECT_EQ(stale.status, 412) << stale.raw;
    EXPECT_EQ(messageIdOf(stale), "Base.1.22.1.PreconditionFailed");
    EXPECT_EQ(ts::request(s.tree.port, "GET", account, {auth}).header("ETag"), tag);

    const ts::Response current =
        ts::request(s.tree.port, "PATCH", account, {auth, "If-Match: " + tag, json}, readOnly);
    EXPECT_LT(current.status, 300) << current.raw;
    const ts::Response changed = ts::request(s.tree.port, "GET", account, {auth});
    EXPECT_NE(changed.header("ETag"), tag);
    EXPECT_EQ(ts::request(s.tree.port, "GET", account, {auth, "If-None-Match: " + tag}).status,
              200);

    EXPECT_EQ(ts::request(s.tree.port, "DELETE", account, {auth, "If-Match: " + tag}).status, 412);
    EXPECT_EQ(ts::request(s.tree.port, "GET", account, {auth}).status, 200);
    EXPECT_LT(
        ts::request(s.tree.port, "DELETE", account, {auth, "If-Match: " + changed.header("ETag")})
            .status,
        300);
    EXPECT_EQ(ts::request(s.tree.port, "GET", account, {auth}).status, 404);
}

// Accounts and sessions as DMTF's Privilege Registry hands them out: a
// ReadOnly user reads its own and nobody else's, also through $expand; an
// Administrator reads all.
TEST(StandardHttp, ReadOnlyUserReadsOnlyItsOwnAccountAndSession) {
    ts::BundledServer s(ts::bundled("Standard"));
    ASSERT_EQ(s.start(), "");
    const std::string admin = ts::basicAuth("admin", s.password());
    const std::string json = "Content-Type: application/json";
    std::map<std::string, std::string> account; // user name -> URI
    for (const char* user : {"viewer", "other"}) {
        const ts::Response r =
            ts::request(s.tree.port, "POST", kAccounts, {admin, json},
                        std::string(R"({"UserName":")") + user +
                            R"(","Password":"Viewer-pass-1","RoleId":"ReadOnly"})");
        ASSERT_EQ(r.status, 201) << r.raw;
        account[user] = r.header("Location");
    }
    const char* const sessions = "/redfish/v1/SessionService/Sessions";
    std::map<std::string, std::pair<std::string, std::string>> session; // token, URI
    for (const char* user : {"viewer", "other"}) {
        const ts::Response r = ts::request(s.tree.port, "POST", sessions, {json},
                                           std::string(R"({"UserName":")") + user +
                                               R"(","Password":"Viewer-pass-1"})");
        ASSERT_EQ(r.status, 201) << r.raw;
        session[user] = {"X-Auth-Token: " + r.header("X-Auth-Token"), r.header("Location")};
    }
    const std::string viewer = session["viewer"].first;
    const struct {
        std::string who, target;
        int status;
    } cases[] = {
        {viewer, account["viewer"], 200},
        {viewer, account["other"], 403},
        {viewer, session["viewer"].second, 200},
        {viewer, session["other"].second, 403},
        {viewer, kAccounts, 200},
        {admin, account["other"], 200},
        {admin, session["other"].second, 200},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ts::request(s.tree.port, "GET", c.target, {c.who}).status, c.status) << c.target;
    const ts::Response expanded =
        ts::request(s.tree.port, "GET", std::string(kAccounts) + "?$expand=.", {viewer});
    const nlohmann::json members = nlohmann::json::parse(expanded.body, nullptr, false)["Members"];
    ASSERT_TRUE(members.is_array()) << expanded.raw;
    std::vector<std::string> names;
    for (const auto& m : members)
        names.push_back(m.value("UserName", ""));
    EXPECT_EQ(std::count(names.begin(), names.end(), "viewer"), 1) << expanded.body;
    EXPECT_EQ(std::count(names.begin(), names.end(), ""), static_cast<long>(names.size() - 1))
        << expanded.body;
}
