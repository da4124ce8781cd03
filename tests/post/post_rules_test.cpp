// The upload action argument, answer statuses and member texts.
#include <gtest/gtest.h>

#include <string>

#include "loginrules.h"
#include "postrules.h"

namespace {
std::string uploadArgument(std::string_view body) {
    return buildUploadActionArgument(body, nullptr);
}
} // namespace

TEST(PluginUri, StartsAtTheFirstRedfishInAnyCase) {
    EXPECT_EQ(pluginUriOf("/redfish/v1/Systems"), "/redfish/v1/Systems");
    EXPECT_EQ(pluginUriOf("/ReDfIsH/v1/Systems"), "/ReDfIsH/v1/Systems");
    EXPECT_EQ(pluginUriOf("/x/REDFISH/v1/redfish"), "/REDFISH/v1/redfish");
    EXPECT_EQ(pluginUriOf("/other"), "/other");
    EXPECT_EQ(pluginUriOf(""), "");
}

TEST(UploadActionArgument, AppendsAnEmptyPathToAnObject) {
    EXPECT_EQ(uploadArgument(R"({"ImageURI":"x"})"), R"({"ImageURI":"x","absoluteFilePath":""})");
    EXPECT_EQ(uploadArgument("{ \"a\" : [1, 2],\n \"b\" : {\"c\" : null} }"),
              R"({"a":[1,2],"b":{"c":null},"absoluteFilePath":""})");
    EXPECT_EQ(uploadArgument("{}"), R"({"absoluteFilePath":""})");
}

TEST(UploadActionArgument, ReplacesAGivenPathWhereItStands) {
    EXPECT_EQ(uploadArgument(R"({"a":1,"absoluteFilePath":"/etc/shadow","b":2})"),
              R"({"a":1,"absoluteFilePath":"","b":2})");
}

TEST(UploadActionArgument, NonObjectsBecomeAnEmptyObject) {
    EXPECT_EQ(uploadArgument(""), "{}");
    EXPECT_EQ(uploadArgument("[1,2]"), "{}");
    EXPECT_EQ(uploadArgument("\"text\""), "{}");
    EXPECT_EQ(uploadArgument("{\"a\":"), "{}");
    EXPECT_EQ(uploadArgument("not json"), "{}");
}

TEST(UploadActionArgument, LongBodiesArePassedWhole) {
    const std::string value(5000, 'v');
    const std::string argument = uploadArgument("{\"ImageURI\":\"" + value + "\"}");
    EXPECT_EQ(argument, "{\"ImageURI\":\"" + value + "\",\"absoluteFilePath\":\"\"}");
}

TEST(AnswerStatus, MissingOrUnusableStatusIsAServerError) {
    auto statusOf = [](const char* text) {
        json::Value v;
        EXPECT_TRUE(json::parseObject(text, v)) << text;
        return answerStatus(v);
    };
    EXPECT_EQ(statusOf(R"({"HttpStatus":202})"), 202);
    EXPECT_EQ(statusOf(R"({"HttpStatus":"201"})"), 201);
    EXPECT_EQ(statusOf(R"({"HttpStatus":100})"), 100);
    EXPECT_EQ(statusOf(R"({"HttpStatus":599})"), 599);
    EXPECT_EQ(statusOf(R"({"HttpStatus":429})"), 429);
    EXPECT_EQ(statusOf(R"({"Data":{}})"), 500);
    EXPECT_EQ(statusOf(R"({"HttpStatus":0})"), 500);
    EXPECT_EQ(statusOf(R"({"HttpStatus":99})"), 500);
    EXPECT_EQ(statusOf(R"({"HttpStatus":600})"), 500);
    EXPECT_EQ(statusOf(R"({"HttpStatus":-200})"), 500);
    EXPECT_EQ(statusOf(R"({"HttpStatus":4294967496})"), 500); // 200 after wrap-around
    EXPECT_EQ(statusOf(R"({"HttpStatus":"abc"})"), 500);
}

TEST(HeaderValues, LineBreaksAreUnsafe) {
    EXPECT_TRUE(isSafeHeaderValue("/redfish/v1/SessionService/Sessions/1"));
    EXPECT_TRUE(isSafeHeaderValue(""));
    EXPECT_FALSE(isSafeHeaderValue("a\r\nSet-Cookie: x=y"));
    EXPECT_FALSE(isSafeHeaderValue("a\nb"));
    EXPECT_FALSE(isSafeHeaderValue("a\rb"));
}

TEST(JsonMemberText, GivesTheMemberAsText) {
    std::string out;
    EXPECT_STREQ(
        getJsonMemberText(R"({"X-Auth-Token":"abc","Location":"/s/1"})", "X-Auth-Token", out),
        "abc");
    EXPECT_EQ(out, "abc");
    EXPECT_STREQ(getJsonMemberText(R"({"n":12,"o":{"a":[1, 2]}})", "o", out), R"({"a":[1,2]})");
    EXPECT_STREQ(getJsonMemberText(R"({"n":12})", "n", out), "12");
    EXPECT_STREQ(getJsonMemberText(R"({"s":"a\"b"})", "s", out), "a\"b");
}

TEST(JsonMemberText, FallbackTexts) {
    std::string out;
    EXPECT_STREQ(getJsonMemberText("", "X-Auth-Token", out), "root parse failed");
    EXPECT_STREQ(getJsonMemberText(nullptr, "X-Auth-Token", out), "root parse failed");
    EXPECT_STREQ(getJsonMemberText("[1]", "X-Auth-Token", out), "root parse failed");
    EXPECT_STREQ(getJsonMemberText(R"({"x-auth-token":"abc"})", "X-Auth-Token", out), "{}");
}

TEST(ResponseHeadersText, TextOfTheHeadersObject) {
    json::Value reply;
    ASSERT_TRUE(json::parseObject(
        R"({"response":{"HttpStatus":201,"Headers":{"X-Auth-Token":"t","Location":"/l"}}})",
        reply));
    EXPECT_EQ(getResponseHeadersText(reply), R"({"X-Auth-Token":"t","Location":"/l"})");

    ASSERT_TRUE(json::parseObject(R"({"response":{"HttpStatus":201}})", reply));
    EXPECT_EQ(getResponseHeadersText(reply), "");
    ASSERT_TRUE(json::parseObject(R"({"HttpStatus":201})", reply));
    EXPECT_EQ(getResponseHeadersText(reply), "");
}
