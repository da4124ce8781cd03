// Plain POSTs against the real program: forwarding, the firmware argument,
// answers from the reply envelope, file answers and the authorisation rules.
#include <gtest/gtest.h>

#include <fstream>

#include "poste2e.h"

using poste2e::contains;

namespace {

constexpr const char* kAction = "/redfish/v1/Systems/1/Actions/ComputerSystem.Reset";
constexpr const char* kPostToken = "tok-0123456789abcdef";

std::string head(int status, const char* reason, const char* type) {
    return "HTTP/1.1 " + std::to_string(status) + " " + reason + "\r\nContent-Type:" + type +
           "\r\nConnection: keep-alive\r\n\r\n";
}

class PostTest : public poste2e::ServerTest {
  protected:
    void SetUp() override {
        poste2e::ServerTest::SetUp();
        if (HasFatalFailure())
            return;
        ASSERT_EQ(login(kPostToken, "/redfish/v1/SessionService/Sessions/1").status, 201);
        tree->clearCalls();
    }
    ts::Response authorisedPost(const std::string& target, const std::string& body) {
        return post(target, body, {std::string("X-Auth-Token: ") + kPostToken});
    }
};

} // namespace

TEST_F(PostTest, EmptyBodyIsForwardedAndTracedAsEmptyObject) {
    tree->setReply(std::string("POST ") + kAction, R"({"HttpStatus":200,"Data":{"ok":1}})");
    ts::Response r = authorisedPost(kAction, "");
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, R"({"ok":1})");
    auto calls = callsOf("POST");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0]["uri"], kAction);
    EXPECT_EQ(calls[0]["body"], "{}");
    const std::string trace = tree->traceLog();
    EXPECT_TRUE(contains(trace, std::string("Request URL           : ") + kAction +
                                    "\nRequest Arguments     : {}\n"))
        << trace;
}

TEST_F(PostTest, BodyIsForwardedUnchanged) {
    const std::string body = "{ \"ResetType\" : \"ForceRestart\" }";
    authorisedPost(kAction, body);
    auto calls = callsOf("POST");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0]["body"], body);
}

TEST_F(PostTest, FirmwareArgumentGetsAnEmptyPath) {
    authorisedPost(poste2e::kFirmware, R"({"ImageURI":"http://h/fw.bin"})");
    authorisedPost(poste2e::kFirmware, "[1,2]");
    auto calls = callsOf("POST");
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0]["body"], R"({"ImageURI":"http://h/fw.bin","absoluteFilePath":""})");
    EXPECT_EQ(calls[1]["body"], "{}");
    // The trace shows the body as the client sent it.
    EXPECT_TRUE(
        contains(tree->traceLog(), "Request Arguments     : {\"ImageURI\":\"http://h/fw.bin\"}\n"));
}

TEST_F(PostTest, OneLetterObjectIsNineBytes) {
    tree->setReply("POST", R"({"HttpStatus":202,"Data":{"a":"b"}})");
    ts::Response r = authorisedPost(kAction, "{}");
    EXPECT_EQ(r.raw, head(202, "Accepted", "application/json") + R"({"a":"b"})");
    const std::string trace = tree->traceLog();
    EXPECT_TRUE(contains(trace, "Response HTTP Status  : 202, Accepted\n"
                                "HTTP Method           : POST\n"
                                "Response Data         : Content Length: 9\n"))
        << trace;
}

TEST_F(PostTest, DataStringsAndMissingData) {
    tree->setReply("POST", R"({"HttpStatus":200,"Data":"plain [text"})");
    ts::Response r = authorisedPost(kAction, "{}");
    EXPECT_EQ(r.raw, head(200, "Ok", "application/json") + "plain [text");

    tree->setReply("POST", R"({"HttpStatus":204})");
    r = authorisedPost(kAction, "{}");
    EXPECT_EQ(r.raw, head(204, "No Content", "application/json"));
    EXPECT_TRUE(contains(tree->traceLog(), "Response Data         : Content Length: 0\n"));
}

TEST_F(PostTest, RepliesWithoutAUsableStatusAreServerErrors) {
    tree->setReply("POST", R"({"Data":{"a":1}})");
    ts::Response r = authorisedPost(kAction, "{}");
    EXPECT_EQ(r.raw, head(500, "Internal Error", "application/json") + R"({"a":1})");

    tree->setReply("POST", R"({"HttpStatus":1000,"Data":"x"})");
    r = authorisedPost(kAction, "{}");
    EXPECT_EQ(r.raw, head(500, "Internal Error", "application/json") + "x");
}

TEST_F(PostTest, NonJsonAndEmptyRepliesAreInternalErrors) {
    for (const char* reply : {"not json", "", "[1,2]"}) {
        tree->setReply("POST", reply);
        ts::Response r = authorisedPost(kAction, "{}");
        EXPECT_EQ(r.raw, head(500, "Internal Error", "application/json") + "Internal Error")
            << reply;
    }
    EXPECT_TRUE(contains(tree->traceLog(), "Response Data         : Content Length: 14\n"));
}

TEST_F(PostTest, FileAnswerSendsTheExactBytesAndKeepsTheFile) {
    // Larger than one piece, with zero bytes and every byte value.
    std::string content;
    for (int i = 0; i < 300000; ++i)
        content.push_back(static_cast<char>((i * 7) & 0xff));
    const std::string path = tree->root + "export.bin";
    ts::writeFile(path, content);
    nlohmann::json reply;
    reply["HttpStatus"] = 200;
    reply["Data"]["contentType"] = "application/octet-stream";
    reply["Data"]["fileName"] = path;
    tree->setReply("POST", reply.dump());

    ts::Response r = authorisedPost(kAction, "{}");
    EXPECT_EQ(r.headerBlock, head(200, "Ok", "application/octet-stream"));
    EXPECT_EQ(r.body.size(), content.size());
    EXPECT_TRUE(r.body == content);
    EXPECT_EQ(ts::readFile(path), content);
    EXPECT_TRUE(contains(tree->traceLog(), "Response Data         : Content Length: 300000\n"));
}

TEST_F(PostTest, FileAnswerInDataStringAndEmptyFile) {
    const std::string path = tree->root + "empty.txt";
    ts::writeFile(path, "");
    nlohmann::json data;
    data["contentType"] = "text/plain";
    data["fileName"] = path;
    nlohmann::json reply;
    reply["HttpStatus"] = 201;
    reply["Data"] = data.dump(); // a string holding the object
    tree->setReply("POST", reply.dump());
    ts::Response r = authorisedPost(kAction, "{}");
    EXPECT_EQ(r.raw, head(201, "Created", "text/plain"));
}

TEST_F(PostTest, MissingFileGivesTheHeadOnly) {
    nlohmann::json reply;
    reply["HttpStatus"] = 200;
    reply["Data"]["contentType"] = "application/octet-stream";
    reply["Data"]["fileName"] = tree->root + "missing.bin";
    tree->setReply("POST", reply.dump());
    ts::Response r = authorisedPost(kAction, "{}");
    // Nothing follows the head, no page of the library either.
    EXPECT_EQ(r.raw, head(500, "Internal Error", "application/octet-stream"));
}

TEST_F(PostTest, FileAnswerWithoutNameIsAnInternalError) {
    tree->setReply("POST", R"({"HttpStatus":200,"Data":{"contentType":"text/plain"}})");
    ts::Response r = authorisedPost(kAction, "{}");
    EXPECT_EQ(r.raw, head(500, "Internal Error", "application/json") + "Internal Error");
}

TEST_F(PostTest, ContentTypeWithLineBreakIsNotWritten) {
    const std::string path = tree->root + "f.txt";
    ts::writeFile(path, "data");
    nlohmann::json reply;
    reply["HttpStatus"] = 200;
    reply["Data"]["contentType"] = "text/plain\r\nSet-Cookie: evil=1";
    reply["Data"]["fileName"] = path;
    tree->setReply("POST", reply.dump());
    ts::Response r = authorisedPost(kAction, "{}");
    EXPECT_EQ(r.raw, head(500, "Internal Error", "application/json") + "Internal Error");
    EXPECT_FALSE(r.hasHeader("Set-Cookie"));
}

TEST_F(PostTest, UnauthorisedPostsNeverReachThePlugin) {
    ts::Response r = post(kAction, "{}");
    EXPECT_EQ(r.raw, head(401, "Unauthorized", "application/json") + "Unauthorized user");
    r = post(kAction, "{}", {"X-Auth-Token: wrong"});
    EXPECT_EQ(r.status, 401);
    EXPECT_TRUE(callsOf("POST").empty());
}

TEST_F(PostTest, DotSegmentsCannotReachTheLoginExemption) {
    for (const char* target :
         {"/redfish/v1/SessionService/Sessions/../../AccountService/Accounts",
          "/redfish/v1/SessionService/Sessions/1", "/redfish/v1/SessionService/Sessions/Members",
          "/redfish/v1/SessionService/Sessions/%2e%2e/%2e%2e/AccountService/Accounts",
          "/redfish/v1/AccountService/Accounts?x=SessionService/Sessions"}) {
        ts::Response r = post(target, R"({"UserName":"x","Password":"y"})");
        EXPECT_EQ(r.status, 401) << target;
        EXPECT_EQ(r.body, "Unauthorized user") << target;
    }
    EXPECT_TRUE(callsOf("POST").empty());
}

TEST_F(PostTest, PluginGetsTheNormalisedPath) {
    authorisedPost("/redfish/v1/Systems/../Chassis/./1/Actions/X", "{}");
    auto calls = callsOf("POST");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0]["uri"], "/redfish/v1/Chassis/1/Actions/X");
}

namespace {

class SmallBodyCapTest : public PostTest {
  protected:
    ts::InstallOptions installOptions() override {
        ts::InstallOptions o;
        o.extraConfig = "\"MaximumRequestBodySize\": 1024";
        return o;
    }
};

} // namespace

TEST_F(SmallBodyCapTest, OversizedBodiesAreRefusedBeforeThePlugin) {
    ts::Response r = authorisedPost(kAction, "{\"a\":\"" + std::string(5000, 'x') + "\"}");
    EXPECT_EQ(r.status, 413);
    EXPECT_TRUE(callsOf("POST").empty());
    r = authorisedPost(kAction, "{\"a\":\"" + std::string(500, 'x') + "\"}");
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(callsOf("POST").size(), 1u);
}
