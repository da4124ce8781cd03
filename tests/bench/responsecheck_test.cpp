#include <gtest/gtest.h>

#include "responsecheck.h"

using bench::checkResponse;
using bench::ErrorKind;
using bench::responseHeader;

namespace {

const std::string kServerHead =
    "HTTP/1.1 200 Ok\r\nContent-Type:application/json\r\nConnection: keep-alive\r\n\r\n";

} // namespace

TEST(ResponseCheck, AcceptsTheServersCloseDelimitedAnswer) {
    auto check = checkResponse(kServerHead + "{\"v1\":\"/redfish/v1/\"}", 2);
    EXPECT_EQ(check.error, ErrorKind::None) << check.detail;
    EXPECT_EQ(check.status, 200);
    EXPECT_EQ(check.bodyBytes, 21u);
}

TEST(ResponseCheck, AcceptsAnEmptyBodyAndAnEmptyReason) {
    auto check = checkResponse("HTTP/1.1 500\r\nContent-Type:application/json\r\n\r\n", 5);
    EXPECT_EQ(check.error, ErrorKind::None) << check.detail;
    EXPECT_EQ(check.status, 500);
    EXPECT_EQ(check.bodyBytes, 0u);
}

TEST(ResponseCheck, NothingReceivedIsEmptyNotMalformed) {
    EXPECT_EQ(checkResponse("", 2).error, ErrorKind::Empty);
}

TEST(ResponseCheck, UnexpectedStatusClassIsCountedAsStatus) {
    auto check = checkResponse("HTTP/1.1 401 Unauthorized\r\nX:y\r\n\r\nUnauthorized user", 2);
    EXPECT_EQ(check.error, ErrorKind::Status);
    EXPECT_EQ(check.status, 401);
    EXPECT_NE(check.detail.find("401"), std::string::npos);
    EXPECT_EQ(checkResponse("HTTP/1.1 401 Unauthorized\r\n\r\n", 4).error, ErrorKind::None);
}

TEST(ResponseCheck, BrokenStatusLinesAreMalformed) {
    for (const char* raw :
         {"garbage", "HTTP/1.1 200 Ok", "HTTP/1.1 20 Ok\r\n\r\n", "HTTP/2 200 Ok\r\n\r\n",
          "HTTPS/1.1 200 Ok\r\n\r\n", "HTTP/1.1 200Ok\r\n\r\n", "HTTP/1.1 2x0 Ok\r\n\r\n",
          "HTTP/1.1 099 Low\r\n\r\n", "HTTP/1.1 200 O\x01k\r\n\r\n", " HTTP/1.1 200 Ok\r\n\r\n"}) {
        EXPECT_EQ(checkResponse(raw, 2).error, ErrorKind::Malformed) << raw;
    }
}

TEST(ResponseCheck, HeaderBlockMustBeComplete) {
    auto check = checkResponse("HTTP/1.1 200 Ok\r\nContent-Type:application/json\r\n", 2);
    EXPECT_EQ(check.error, ErrorKind::Malformed);
    EXPECT_NE(check.detail.find("header block"), std::string::npos);
    // A bare line feed does not end the block.
    EXPECT_EQ(checkResponse("HTTP/1.1 200 Ok\r\nA: b\n\n{}", 2).error, ErrorKind::Malformed);
}

TEST(ResponseCheck, HeaderLinesNeedANameAndAColon) {
    EXPECT_EQ(checkResponse("HTTP/1.1 200 Ok\r\nNoColonHere\r\n\r\n", 2).error,
              ErrorKind::Malformed);
    EXPECT_EQ(checkResponse("HTTP/1.1 200 Ok\r\n: empty name\r\n\r\n", 2).error,
              ErrorKind::Malformed);
    EXPECT_EQ(checkResponse("HTTP/1.1 200 Ok\r\nBad Name: x\r\n\r\n", 2).error,
              ErrorKind::Malformed);
    EXPECT_EQ(checkResponse("HTTP/1.1 200 Ok\r\nName: a\x01z\r\n\r\n", 2).error,
              ErrorKind::Malformed);
}

TEST(ResponseCheck, ContentLengthMustMatchTheBody) {
    EXPECT_EQ(checkResponse("HTTP/1.1 200 Ok\r\nContent-Length: 2\r\n\r\n{}", 2).error,
              ErrorKind::None);
    auto shortBody = checkResponse("HTTP/1.1 200 Ok\r\ncontent-length: 5\r\n\r\n{}", 2);
    EXPECT_EQ(shortBody.error, ErrorKind::Malformed);
    EXPECT_NE(shortBody.detail.find("Content-Length 5"), std::string::npos);
    EXPECT_EQ(checkResponse("HTTP/1.1 200 Ok\r\nContent-Length: x\r\n\r\n{}", 2).error,
              ErrorKind::Malformed);
    EXPECT_EQ(
        checkResponse("HTTP/1.1 200 Ok\r\nContent-Length: 2\r\nContent-Length: 3\r\n\r\n{}", 2)
            .error,
        ErrorKind::Malformed);
}

TEST(ResponseCheck, FindsHeadersIgnoringCaseAndOnlyInTheHeaderBlock) {
    std::string raw = "HTTP/1.1 201 Created\r\nLocation: /redfish/v1/SessionService/Sessions/1"
                      "\r\nx-auth-token:  abc123 \r\n\r\nX-Auth-Token: body";
    EXPECT_EQ(responseHeader(raw, "X-Auth-Token"), "abc123");
    EXPECT_EQ(responseHeader(raw, "location"), "/redfish/v1/SessionService/Sessions/1");
    EXPECT_EQ(responseHeader(raw, "Set-Cookie"), "");
    EXPECT_EQ(responseHeader("HTTP/1.1 200 Ok\r\nX-Auth-Token: a", "X-Auth-Token"), "");
}
