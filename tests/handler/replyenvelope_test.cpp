// The reply envelope, the reason texts and the handler's own documents.
#include <gtest/gtest.h>

#include <string>

#include "answer/classichead.h"
#include "compactreply.h"
#include "redfishserverhandler.h"

namespace {

struct Converted {
    int status;
    std::string body;
};

Converted convert(RedfishServerHandler&, const char* reply) {
    std::string body = "left over";
    const int status = convertPluginReply(reply, body);
    return {status, body};
}

class ReplyEnvelope : public ::testing::Test {
  protected:
    RedfishServerHandler handler{"10.0.0.1", nullptr, 1800};
};

TEST_F(ReplyEnvelope, ObjectDataIsCompactJsonInReplyOrder) {
    Converted c = convert(handler, "{\"HttpStatus\":404,\"Data\":{ \"error\" : \"none\" }}");
    EXPECT_EQ(c.status, 404);
    EXPECT_EQ(c.body, "{\"error\":\"none\"}");

    c = convert(handler, "{\"Data\":{\"Name\":\"x\",\"Id\":\"1\"},\"HttpStatus\":200,\"More\":1}");
    EXPECT_EQ(c.status, 200);
    EXPECT_EQ(c.body, "{\"Name\":\"x\",\"Id\":\"1\"}");
}

TEST_F(ReplyEnvelope, StringStatusAndArrayData) {
    Converted c = convert(handler, "{\"HttpStatus\":\"201\",\"Data\":[1, 2]}");
    EXPECT_EQ(c.status, 201);
    EXPECT_EQ(c.body, "[1,2]");
}

TEST_F(ReplyEnvelope, StringDataIsSentWithoutQuotesAndEscapesResolved) {
    Converted c = convert(handler, "{\"HttpStatus\":200,\"Data\":\"line\\none \\\"q\\\"\"}");
    EXPECT_EQ(c.status, 200);
    EXPECT_EQ(c.body, "line\none \"q\"");
}

TEST_F(ReplyEnvelope, ScalarDataGivesItsLiteral) {
    EXPECT_EQ(convert(handler, "{\"HttpStatus\":200,\"Data\":null}").body, "null");
    EXPECT_EQ(convert(handler, "{\"HttpStatus\":200,\"Data\":true}").body, "true");
    EXPECT_EQ(convert(handler, "{\"HttpStatus\":200,\"Data\":42}").body, "42");
}

TEST_F(ReplyEnvelope, MissingDataGivesDataIsNullWithTheReplysStatus) {
    Converted c = convert(handler, "{\"HttpStatus\":204}");
    EXPECT_EQ(c.status, 204);
    EXPECT_EQ(c.body, "Data is NULL");
}

TEST_F(ReplyEnvelope, StatuslessRepliesAreServerErrorsNeverAnEarlierStatus) {
    // An earlier reply set 201; the next ones carry no usable status.
    ASSERT_EQ(convert(handler, "{\"HttpStatus\":201,\"Data\":{}}").status, 201);

    Converted c = convert(handler, "{\"Data\":{}}");
    EXPECT_EQ(c.status, 500);
    EXPECT_EQ(c.body, "{}");

    convert(handler, "{\"HttpStatus\":202,\"Data\":{}}");
    c = convert(handler, "");
    EXPECT_EQ(c.status, 500);
    EXPECT_EQ(c.body, "root parse failed");

    convert(handler, "{\"HttpStatus\":202,\"Data\":{}}");
    c = convert(handler, nullptr);
    EXPECT_EQ(c.status, 500);
    EXPECT_EQ(c.body, "root parse failed");

    for (const char* notAnObject : {"[1,2]", "\"text\"", "17", "{\"HttpStatus\":200", "<html>"}) {
        convert(handler, "{\"HttpStatus\":202,\"Data\":{}}");
        c = convert(handler, notAnObject);
        EXPECT_EQ(c.status, 500) << notAnObject;
        EXPECT_EQ(c.body, "root parse failed") << notAnObject;
    }
}

TEST_F(ReplyEnvelope, StatusOutsideTheHttpRangeIsServerError) {
    for (const char* reply :
         {"{\"HttpStatus\":\"none\",\"Data\":1}", "{\"HttpStatus\":0,\"Data\":1}",
          "{\"HttpStatus\":99,\"Data\":1}", "{\"HttpStatus\":600,\"Data\":1}",
          "{\"HttpStatus\":-200,\"Data\":1}", "{\"HttpStatus\":true,\"Data\":1}",
          "{\"HttpStatus\":4294967496,\"Data\":1}", "{\"HttpStatus\":null,\"Data\":1}"}) {
        Converted c = convert(handler, reply);
        EXPECT_EQ(c.status, 500) << reply;
        EXPECT_EQ(c.body, "1") << reply;
    }
    EXPECT_EQ(convert(handler, "{\"HttpStatus\":100,\"Data\":1}").status, 100);
    EXPECT_EQ(convert(handler, "{\"HttpStatus\":599,\"Data\":1}").status, 599);
    EXPECT_EQ(convert(handler, "{\"HttpStatus\":429.9,\"Data\":1}").status, 429);
}

TEST_F(ReplyEnvelope, KeysAreCaseSensitive) {
    Converted c = convert(handler, "{\"httpstatus\":200,\"data\":1}");
    EXPECT_EQ(c.status, 500);
    EXPECT_EQ(c.body, "{}");
    c = convert(handler, "{\"HttpStatus\":200,\"data\":1}");
    EXPECT_EQ(c.status, 200);
    EXPECT_EQ(c.body, "Data is NULL");
}

TEST_F(ReplyEnvelope, NestingBeyondFiftyIsNotAnObject) {
    std::string deep = "{\"HttpStatus\":200,\"Data\":";
    for (int i = 0; i < 60; ++i)
        deep += "[";
    for (int i = 0; i < 60; ++i)
        deep += "]";
    deep += "}";
    Converted c = convert(handler, deep.c_str());
    EXPECT_EQ(c.status, 500);
    EXPECT_EQ(c.body, "root parse failed");
}

TEST(StatusText, TableAndDefault) {
    const std::pair<int, const char*> table[] = {
        {200, "Ok"},
        {201, "Created"},
        {202, "Accepted"},
        {204, "No Content"},
        {301, "Moved Permanently"},
        {302, "Found"},
        {303, "See Other"},
        {304, "Not Modified"},
        {400, "Bad Request"},
        {401, "Unauthorized"},
        {403, "Forbidden"},
        {404, "Not Found"},
        {405, "Method Not Allowed"},
        {406, "Not Acceptable"},
        {408, "Request Timeout"},
        {409, "Conflict"},
        {410, "Gone"},
        {411, "Length Required"},
        {412, "Pre-condition Failed"},
        {413, "Payload Too Large"},
        {415, "Unsupported Media Type"},
        {500, "Internal Error"},
        {501, "Not Implemented"},
        {503, "Service Unavailable"},
    };
    for (const auto& row : table)
        EXPECT_STREQ(classicStatusText(row.first), row.second) << row.first;
    for (int other : {0, -1, 100, 203, 407, 414, 417, 429, 502, 504, 599, 1000})
        EXPECT_STREQ(classicStatusText(other), "Expectation Failed") << other;
}

const char kServiceRoot[] =
    "{\"@odata.context\":\"/redfish/v1/$metadata#ServiceRoot\",\"@odata.id\":\"/redfish/v1\","
    "\"@odata.type\":\"#ServiceRoot.1.0.2.ServiceRoot\",\"Id\":\"RootService\",\"Name\":\"Root "
    "Service\",\"RedfishVersion\":\"1.0.2\",\"UUID\":\"Not Aplicable\",\"StorageServices\":{\"@"
    "odata.id\":\"/redfish/v1/StorageServices\"},\"StorageSystems\":{\"@odata.id\":\"/redfish/v1/"
    "StorageSystems\"},\"Systems\":{\"@odata.id\":\"/redfish/v1/Systems\"},\"Chassis\":{\"@odata."
    "id\":\"/redfish/v1/Chassis\"},\"Managers\":{\"@odata.id\":\"/redfish/v1/Managers\"},\"Tasks\":"
    "{\"@odata.id\":\"/redfish/v1/TaskService\"},\"SessionService\":{\"@odata.id\":\"/redfish/v1/"
    "SessionService\"},\"AccountService\":{\"@odata.id\":\"/redfish/v1/AccountService\"},"
    "\"EventService\":{\"@odata.id\":\"/redfish/v1/EventService\"},\"JsonSchemas\":{\"@odata.id\":"
    "\"/redfish/v1/JsonSchemas\"}}";

TEST(OwnDocuments, ServiceRootEnvelopeAndBody) {
    std::string reply;
    RedfishServerHandler::buildServiceRoot(reply);
    EXPECT_EQ(reply, std::string("{\"Data\":") + kServiceRoot + ",\"HttpStatus\":200}");

    std::string body;
    EXPECT_EQ(convertPluginReply(reply.c_str(), body), 200);
    EXPECT_EQ(body, kServiceRoot);
    EXPECT_EQ(body.size(), 756u);
    EXPECT_EQ(body.find('\n'), std::string::npos);
}

TEST(OwnDocuments, VersionDocument) {
    std::string reply;
    RedfishServerHandler::buildVersionDocument(reply);
    EXPECT_EQ(reply, "{\"Data\":{\"v1\":\"/redfish/v1/\"},\"HttpStatus\":200}");
    std::string body;
    EXPECT_EQ(convertPluginReply(reply.c_str(), body), 200);
    EXPECT_EQ(body, "{\"v1\":\"/redfish/v1/\"}");
}

TEST(HandlerNullChecks, EitherPointerMissingAnswersNothing) {
    RedfishServerHandler h("h", reinterpret_cast<RedfishModuleHandle>(0x1), 0);
    EXPECT_FALSE(h.handleGet(nullptr, nullptr));
    EXPECT_FALSE(h.handlePatch(nullptr, nullptr));
    EXPECT_FALSE(h.handleDelete(nullptr, nullptr));
    // The server alone is not enough.
    CivetServer* fakeServer = reinterpret_cast<CivetServer*>(&h);
    EXPECT_FALSE(h.handleGet(fakeServer, nullptr));
    EXPECT_FALSE(h.handlePatch(fakeServer, nullptr));
    EXPECT_FALSE(h.handleDelete(fakeServer, nullptr));
    EXPECT_FALSE(h.isAuthorized(nullptr));
    h.learnHostName(nullptr);
    EXPECT_FALSE(h.hostNameKnown);
    EXPECT_EQ(h.readRequestBody(nullptr), "");
    EXPECT_FALSE(h.answerBodyFailure(nullptr, "GET", "/redfish/v1/x"));
}

} // namespace
