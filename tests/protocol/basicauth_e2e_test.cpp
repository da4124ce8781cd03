// HTTP Basic authentication in the standard profile: a login on every
// request through the plug-in, with the same throttle, no session left
// behind, and no verdict that outlives a password change.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "testsupport.h"
#include "session/basicauth.h"

using ts::base64;

// Only a well-formed Basic value of a name and a password is credentials.
TEST(BasicCredentials, MalformedValuesAreNoCredentials) {
    EXPECT_TRUE(basicCredentials(("Basic " + base64("admin:pw:with:colons")).c_str()));
    EXPECT_EQ(basicCredentials(("basic " + base64("a:b")).c_str())->password, "b");
    const std::vector<std::string> values = {"Bearer abc",
                                             "Basic",
                                             "Basic !!!!",
                                             "Basic " + base64("no-colon"),
                                             "Basic " + base64(":empty-user"),
                                             "Basic " + base64(std::string("admin:pw\0x", 10)),
                                             "Basic " + base64("admin\r\n:pw"),
                                             "Basicx " + base64("a:b")};
    for (const std::string& value : values)
        EXPECT_FALSE(basicCredentials(value.c_str())) << value;
}

// Right credentials open every request without leaving a session; wrong or
// missing ones get 401 with the challenge that tells clients to use Basic.
TEST(BasicAuthE2E, CredentialsAreALoginOnEveryRequestAndLeaveNoSession) {
    ts::BundledServer s(ts::bundled("Standard"));
    ASSERT_EQ(s.start(), "");
    const std::string right = ts::basicAuth("admin", s.password());
    EXPECT_EQ(s.get("/redfish/v1/Systems", right).status, 200);
    const ts::Response sessions = s.get("/redfish/v1/SessionService/Sessions", right);
    ASSERT_EQ(sessions.status, 200) << sessions.raw;
    EXPECT_EQ(nlohmann::json::parse(sessions.body).value("Members@odata.count", -1), 0);

    for (const std::string& header : {ts::basicAuth("admin", "wrong"), std::string("X-Other: 1")}) {
        const ts::Response r = s.get("/redfish/v1/Systems", header);
        EXPECT_EQ(r.status, 401) << header;
        EXPECT_EQ(r.header("WWW-Authenticate"), "Basic realm=\"Redfish\"") << header;
        EXPECT_NE(r.body.find("NoValidSession"), std::string::npos) << r.body;
    }
}

// Guessing passwords with Basic is throttled like session logins.
TEST(BasicAuthE2E, RepeatedWrongCredentialsAreThrottled) {
    ts::BundledServer s(ts::bundled("Standard"));
    ASSERT_EQ(s.start(), "");
    int status = 0;
    for (int i = 0; i < 10 && status != 429; ++i)
        status = s.get("/redfish/v1/Systems", ts::basicAuth("admin", "guess" + std::to_string(i)))
                     .status;
    EXPECT_EQ(status, 429);
    EXPECT_EQ(s.get("/redfish/v1/Systems", ts::basicAuth("admin", s.password())).status, 429);
}

// A password change ends what the old password opened, cached verdict
// included.
TEST(BasicAuthE2E, OldPasswordStopsWorkingAtOnce) {
    ts::BundledServer s(ts::bundled("Standard"));
    ASSERT_EQ(s.start(), "");
    const std::string old = ts::basicAuth("admin", s.password());
    ASSERT_EQ(s.get("/redfish/v1/Systems", old).status, 200); // cached now
    const ts::Response accounts = s.get("/redfish/v1/AccountService/Accounts", old);
    ASSERT_EQ(accounts.status, 200) << accounts.raw;
    std::string admin;
    const nlohmann::json collection = nlohmann::json::parse(accounts.body, nullptr, false);
    for (const auto& member : collection["Members"]) {
        const std::string uri = member["@odata.id"];
        const ts::Response account = s.get(uri, old);
        ASSERT_EQ(account.status, 200) << account.raw;
        if (nlohmann::json::parse(account.body, nullptr, false).value("UserName", "") == "admin")
            admin = uri;
    }
    ASSERT_FALSE(admin.empty());
    const ts::Response changed =
        ts::request(s.tree.port, "PATCH", admin, {old, "Content-Type: application/json"},
                    "{\"Password\":\"Another-Secret-42\"}");
    ASSERT_LT(changed.status, 300) << changed.raw;
    EXPECT_EQ(s.get("/redfish/v1/Systems", old).status, 401);
    EXPECT_EQ(s.get("/redfish/v1/Systems", ts::basicAuth("admin", "Another-Secret-42")).status,
              200);
}

// The classic profile knows no Basic authentication and sends no challenge.
TEST(BasicAuthE2E, ClassicProfileIgnoresBasicCredentials) {
    ts::BundledServer s(ts::bundled("Classic"));
    ASSERT_EQ(s.start(), "");
    const ts::Response r = s.get("/redfish/v1/Systems", ts::basicAuth("admin", s.password()));
    EXPECT_EQ(r.status, 401);
    EXPECT_FALSE(r.hasHeader("WWW-Authenticate"));
    EXPECT_EQ(r.body, "Unauthorized user");
}

// The bundled plug-in's OEM schema is referenced by $metadata and served as
// XML, so validators find the OEM actions' definitions.
TEST(BasicAuthE2E, OemSchemaIsReferencedAndServedAsXml) {
    ts::BundledServer s(ts::bundled("Standard"));
    ASSERT_EQ(s.start(), "");
    const std::string csdl = "/redfish/v1/JsonSchemas/Veltrano/Veltrano_v1.xml";
    const ts::Response metadata = ts::request(s.tree.port, "GET", "/redfish/v1/$metadata");
    EXPECT_NE(metadata.body.find("Uri=\"" + csdl + "\""), std::string::npos);
    const ts::Response r = s.get(csdl, ts::basicAuth("admin", s.password()));
    ASSERT_EQ(r.status, 200) << r.raw;
    EXPECT_NE(r.header("Content-Type").find("application/xml"), std::string::npos);
    EXPECT_EQ(r.body.rfind("<?xml", 0), 0u) << r.body.substr(0, 80);
}
