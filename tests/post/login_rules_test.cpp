// The login argument, the cookie headers and the token mask.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "jsonadapter.h"
#include "loginrules.h"

TEST(LoginArgument, ExactTextWithTheBodyAsSent) {
    EXPECT_EQ(buildLoginArgument("10.0.0.1", R"({"UserName":"admin","Password":"pa\\ss\""})",
                                 "192.0.2.7"),
              R"({"x-forwarded-for":"10.0.0.1","requestBody":"{\"UserName\":\"admin\",)"
              R"(\"Password\":\"pa\\\\ss\\\"\"}","clientAddress":"192.0.2.7"})");
}

TEST(LoginArgument, EscapesOnlyTheGivenCharacters) {
    const std::string body = std::string("q\" b\b f\f n\n r\r t\t c\x01 u\xc3\xa9 s/");
    EXPECT_EQ(buildLoginArgument("h", body),
              std::string(R"({"x-forwarded-for":"h","requestBody":"q\" b\b f\f n\n r\r t\t c)") +
                  "\x01 u\xc3\xa9 s/\",\"clientAddress\":\"\"}");
}

TEST(LoginArgument, RoundTripsAsJson) {
    const std::string body = "{\"UserName\":\"a\\\\dmin\",\n\t\"Password\":\"\\\"x\\\"\"}";
    json::Value parsed;
    ASSERT_TRUE(json::parseObject(buildLoginArgument("host\"name", body), parsed));
    EXPECT_EQ(json::memberText(parsed, "x-forwarded-for"), "host\"name");
    EXPECT_EQ(json::memberText(parsed, "requestBody"), body);
    EXPECT_EQ(json::memberText(parsed, "clientAddress"), "");
    EXPECT_EQ(parsed.size(), 3u);
}

TEST(LoginArgument, LongBodiesArePassedWhole) {
    const std::string body = "{\"Password\":\"" + std::string(20000, 'p') + "\"}";
    json::Value parsed;
    ASSERT_TRUE(json::parseObject(buildLoginArgument("h", body), parsed));
    EXPECT_EQ(json::memberText(parsed, "requestBody"), body);
}

TEST(SessionCookie, AttributesKeepItFromScriptsOtherSitesAndPlainText) {
    EXPECT_EQ(sessionCookieAttributes(false), "; Path=/redfish; HttpOnly; SameSite=Strict");
    EXPECT_EQ(sessionCookieAttributes(true), "; Path=/redfish; HttpOnly; SameSite=Strict; Secure");
}

TEST(SessionCookie, TextKeepsTheBlankAndTheWholeToken) {
    EXPECT_EQ(sessionCookieText("abc"), "sessionId =abc");
    const std::string token(5000, 't');
    EXPECT_EQ(sessionCookieText(token), "sessionId =" + token);
}

namespace {

// Runs `body` with the process's time zone set to `zone`.
template <typename F> void inZone(const char* zone, F body) {
    const char* old = std::getenv("TZ");
    std::string saved = old ? old : "";
    setenv("TZ", zone, 1);
    tzset();
    body();
    if (old)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

constexpr std::time_t kTenOClockUtc = 1704189600; // 2024-01-02 10:00:00 UTC

} // namespace

TEST(SessionCookie, ExpiryInLocalTime) {
    inZone("UTC0", [] {
        EXPECT_EQ(sessionExpiryText(kTenOClockUtc, 1800), "2024-01-02 10:30:00");
        EXPECT_EQ(sessionExpiryText(kTenOClockUtc, 0), "2024-01-02 10:00:00");
        EXPECT_EQ(sessionExpiryText(kTenOClockUtc, -60), "2024-01-02 09:59:00");
        EXPECT_EQ(sessionExpiryText(kTenOClockUtc, 14 * 3600), "2024-01-03 00:00:00");
    });
    inZone("CET-1",
           [] { EXPECT_EQ(sessionExpiryText(kTenOClockUtc, 1800), "2024-01-02 11:30:00"); });
}

TEST(SessionCookie, ThreeHeadersInOrder) {
    inZone("UTC0", [] {
        auto fields = sessionCookieHeaderFields("sessionId =tok", 1800, kTenOClockUtc);
        ASSERT_EQ(fields.size(), 3u);
        EXPECT_EQ(fields[0].first, "Set-Cookie");
        EXPECT_EQ(fields[0].second, "sessionId =tok");
        EXPECT_EQ(fields[1].first, "Expires");
        EXPECT_EQ(fields[1].second, "2024-01-02 10:30:00");
        EXPECT_EQ(fields[2].first, "Max-Age");
        EXPECT_EQ(fields[2].second, "1800");
        EXPECT_EQ(sessionCookieHeaderFields("c", -5, kTenOClockUtc)[2].second, "-5");
    });
}

TEST(TokenMask, HidesEveryOccurrence) {
    const std::string reply =
        R"({"response":{"HttpStatus":201,"Headers":{"X-Auth-Token":"s3cr3t"},"Data":"s3cr3t"}})";
    const std::string masked = maskToken(reply, "s3cr3t");
    EXPECT_EQ(masked.find("s3cr3t"), std::string::npos);
    EXPECT_EQ(
        masked,
        R"({"response":{"HttpStatus":201,"Headers":{"X-Auth-Token":"******"},"Data":"******"}})");
}

TEST(TokenMask, EscapedTokensAndEmptyTokens) {
    EXPECT_EQ(maskToken(R"({"t":"a\"b"})", "a\"b"), R"({"t":"******"})");
    EXPECT_EQ(maskToken("unchanged", ""), "unchanged");
}
