#include <gtest/gtest.h>

#include "requestbuilder.h"

using bench::buildRequest;
using bench::LoadOptions;
using bench::RequestKind;

namespace {

LoadOptions options() {
    LoadOptions o;
    o.port = 8443;
    o.user = "admin";
    o.password = "pa\\ss\"word";
    return o;
}

std::string bodyOf(const std::string& request) {
    size_t end = request.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : request.substr(end + 4);
}

} // namespace

TEST(RequestBuilder, ServiceRootIsAPlainGetWithoutToken) {
    EXPECT_EQ(buildRequest(RequestKind::ServiceRoot, options(), "tok", 0),
              "GET /redfish/v1 HTTP/1.1\r\nHost: 127.0.0.1:8443\r\nAccept: application/json\r\n"
              "Connection: close\r\n\r\n");
}

TEST(RequestBuilder, PluginGetCarriesTheToken) {
    EXPECT_EQ(buildRequest(RequestKind::PluginGet, options(), "tok123", 3),
              "GET /redfish/v1/Systems HTTP/1.1\r\nHost: 127.0.0.1:8443\r\n"
              "Accept: application/json\r\nX-Auth-Token: tok123\r\nConnection: close\r\n\r\n");
    // No token known: no empty header.
    EXPECT_EQ(buildRequest(RequestKind::PluginGet, options(), "", 3).find("X-Auth-Token"),
              std::string::npos);
}

TEST(RequestBuilder, LoginPostsEscapedCredentialsWithTheirLength) {
    std::string request = buildRequest(RequestKind::Login, options(), "tok", 0);
    EXPECT_EQ(request.rfind("POST /redfish/v1/SessionService/Sessions HTTP/1.1\r\n", 0), 0u);
    EXPECT_EQ(request.find("X-Auth-Token"), std::string::npos);
    std::string body = "{\"UserName\":\"admin\",\"Password\":\"pa\\\\ss\\\"word\"}";
    EXPECT_EQ(bodyOf(request), body);
    EXPECT_NE(request.find("Content-Type: application/json\r\n"), std::string::npos);
    EXPECT_NE(request.find("Content-Length: " + std::to_string(body.size()) + "\r\n"),
              std::string::npos);
}

TEST(RequestBuilder, LoginBodyEscapesControlCharacters) {
    EXPECT_EQ(bench::loginBody("a\nb\tc\x01", "p"),
              "{\"UserName\":\"a\\nb\\tc\\u0001\",\"Password\":\"p\"}");
    EXPECT_EQ(bench::loginBody("u", ""), "{\"UserName\":\"u\",\"Password\":\"\"}");
}

TEST(RequestBuilder, PatchSendsTheConfiguredBodyAndToken) {
    LoadOptions o = options();
    o.patchUri = "/redfish/v1/Systems/Sys1/Storage/1/Volumes/2";
    o.patchBody = "{\"Name\":\"v\"}";
    std::string request = buildRequest(RequestKind::Patch, o, "t", 0);
    EXPECT_EQ(request.rfind("PATCH /redfish/v1/Systems/Sys1/Storage/1/Volumes/2 HTTP/1.1\r\n", 0),
              0u);
    EXPECT_NE(request.find("X-Auth-Token: t\r\n"), std::string::npos);
    EXPECT_NE(request.find("Content-Length: 12\r\n"), std::string::npos);
    EXPECT_EQ(bodyOf(request), o.patchBody);
}

TEST(RequestBuilder, UploadIsAMultipartFormWithOneFileOfTheGivenSize) {
    LoadOptions o = options();
    o.uploadSize = 1000;
    std::string request = buildRequest(RequestKind::Upload, o, "t", 7);
    EXPECT_EQ(request.rfind("POST " + o.uploadUri + " HTTP/1.1\r\n", 0), 0u);
    size_t typeAt = request.find("Content-Type: multipart/form-data; boundary=");
    ASSERT_NE(typeAt, std::string::npos);
    size_t boundaryAt = typeAt + std::string("Content-Type: multipart/form-data; boundary=").size();
    std::string boundary =
        request.substr(boundaryAt, request.find("\r\n", boundaryAt) - boundaryAt);
    std::string body = bodyOf(request);
    EXPECT_NE(request.find("Content-Length: " + std::to_string(body.size()) + "\r\n"),
              std::string::npos);
    std::string partHead = "--" + boundary +
                           "\r\nContent-Disposition: form-data; name=\"UpdateFile\"; "
                           "filename=\"bench-client7.bin\"\r\nContent-Type: "
                           "application/octet-stream\r\n\r\n";
    ASSERT_EQ(body.rfind(partHead, 0), 0u);
    std::string tail = "\r\n--" + boundary + "--\r\n";
    ASSERT_GE(body.size(), partHead.size() + tail.size());
    EXPECT_EQ(body.substr(body.size() - tail.size()), tail);
    std::string content = body.substr(partHead.size(), body.size() - partHead.size() - tail.size());
    EXPECT_EQ(content.size(), 1000u);
    EXPECT_EQ(content.find(boundary), std::string::npos);
    // Two clients upload different files under different names.
    EXPECT_NE(buildRequest(RequestKind::Upload, o, "t", 8), request);
}

TEST(RequestBuilder, BracketsAnIpv6HostInTheHostHeader) {
    LoadOptions o = options();
    o.host = "::1";
    EXPECT_NE(buildRequest(RequestKind::ServiceRoot, o, "", 0).find("Host: [::1]:8443\r\n"),
              std::string::npos);
}
