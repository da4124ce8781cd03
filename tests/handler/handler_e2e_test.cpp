// The request handler in the real program, with the scripted resource
// plug-in and the capture log plug-in: own documents, refusals, the session
// service exemption, reply conversions, body rules, trace records, log lines.
#include <gtest/gtest.h>

#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "handlertest.h"
#include "testsupport.h"

using namespace handlertest;

namespace {

class HandlerE2E : public ::testing::Test {
  protected:
    void start(const ts::InstallOptions& options = ts::InstallOptions()) {
        tree = std::make_unique<ts::InstallTree>(options);
        server = std::make_unique<ts::ServerProcess>(*tree);
        ASSERT_TRUE(server->waitReady()) << server->output();
    }
    // The per-request DEBUG lines are written from setting 3 on.
    static ts::InstallOptions debugLines() {
        ts::InstallOptions options;
        options.debugMask = 3;
        return options;
    }
    std::string raw(const std::string& method, const std::string& target,
                    const std::vector<std::string>& headers = {}, const std::string& body = "") {
        return ts::request(tree->port, method, target, headers, body).raw;
    }
    // Plug-in command calls (start-up calls left out).
    std::vector<nlohmann::json> commandCalls() const {
        std::vector<nlohmann::json> out;
        for (auto& c : tree->calls()) {
            std::string entry = c.value("entry", "");
            if (entry != "initializeAllPlugins" && entry != "uninitializeAllPlugins")
                out.push_back(c);
        }
        return out;
    }
    std::unique_ptr<ts::InstallTree> tree;
    std::unique_ptr<ts::ServerProcess> server;
};

const char kVersion[] = "{\"v1\":\"/redfish/v1/\"}";
const char kExempt[] = "/redfish/v1/SessionService";

TEST_F(HandlerE2E, OwnDocumentsExactBytesWithoutSessionOrPlugin) {
    start();
    for (const char* target : {"/redfish", "/redfish/"})
        EXPECT_EQ(raw("GET", target), head(200, "Ok") + kVersion) << target;
    for (const char* target : {"/redfish/v1", "/redfish/v1/", "/redfish/V1/", "/redfish/V1"}) {
        ts::Response r = ts::request(tree->port, "GET", target);
        EXPECT_EQ(r.raw, head(200, "Ok") + kServiceRoot) << target;
        EXPECT_EQ(r.body.size(), 756u) << target;
    }
    EXPECT_TRUE(commandCalls().empty());
    // Debug log type 0: no trace records for the own documents.
    EXPECT_EQ(tree->traceLog().find("Request Time"), std::string::npos) << tree->traceLog();
    EXPECT_EQ(tree->traceLog().find("Response Time"), std::string::npos) << tree->traceLog();
}

TEST_F(HandlerE2E, RefusedRequestsGetTheFixed401AndReachNoPlugin) {
    start();
    const std::vector<std::pair<std::string, std::string>> refused = {
        {"GET", "/redfish/v1/Systems"},
        {"GET", "/redfish/v1?$top=1"}, // not the service root: it is forwarded with $expand
        {"GET", "/redfish/v1/SessionService/Sessions"},
        {"GET", "/redfish/v1/SessionService?x"},
        {"GET", "/redfish/v1/SessionService/"},
        {"GET", "/redfish/v1/SessionService/../Systems"},
        {"GET", "/redfish/v1/SessionService/%2e%2e/Systems"},
        {"PATCH", "/redfish/v1/Systems/1"},
        {"DELETE", "/redfish/v1/Systems/1"},
        {"DELETE", "/redfish/v1/SessionService"},
    };
    for (auto& m : refused)
        EXPECT_EQ(raw(m.first, m.second), unauthorized()) << m.first << " " << m.second;
    // Made-up credentials change nothing.
    EXPECT_EQ(raw("GET", "/redfish/v1/Systems", {"X-Auth-Token: guessed"}), unauthorized());
    EXPECT_EQ(raw("GET", "/redfish/v1/Systems", {"Cookie: sessionId=guessed"}), unauthorized());
    EXPECT_EQ(raw("GET", "/redfish/v1/Systems", {"X-Auth-Token: {}"}), unauthorized());
    EXPECT_EQ(raw("GET", "/redfish/v1/Systems", {"X-Auth-Token: root parse failed"}),
              unauthorized());
    EXPECT_TRUE(commandCalls().empty());
    EXPECT_EQ(tree->traceLog().find("Request Time"), std::string::npos) << tree->traceLog();
}

TEST_F(HandlerE2E, SessionServiceDocumentIsForwardedWithoutSession) {
    start();
    const std::vector<std::pair<std::string, std::string>> exempt = {
        {"/redfish/v1/SessionService", "/redfish/v1/SessionService"},
        {"/redfish/v1/sessionservice", "/redfish/v1/sessionservice"},
        {"/redfish/v1/Systems/../SessionService", "/redfish/v1/SessionService"},
        {"/redfish/v1/./SessionService", "/redfish/v1/SessionService"},
        {"/redfish/v1/Session%53ervice", "/redfish/v1/SessionService"},
        {"/redfish/v1/SessionService?members", "/redfish/v1/SessionService"},
        {"/redfish/v1/SessionService?MEM", "/redfish/v1/SessionService"},
        {"/redfish/v1/SessionService?", "/redfish/v1/SessionService"},
    };
    for (auto& e : exempt) {
        tree->clearCalls();
        ts::Response r = ts::request(tree->port, "GET", e.first);
        EXPECT_EQ(r.status, 200) << e.first << "\n" << r.raw;
        auto calls = commandCalls();
        ASSERT_EQ(calls.size(), 1u) << e.first;
        EXPECT_EQ(calls[0]["entry"], "GET");
        EXPECT_EQ(calls[0]["uri"], e.second) << e.first;
        EXPECT_EQ(calls[0]["body"], "{}") << e.first;
    }
}

TEST_F(HandlerE2E, ReplyConversionsOnTheWire) {
    start();
    struct Case {
        const char* reply;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"{\"HttpStatus\":200,\"Data\":{\"Id\":\"1\", \"Name\":\"x\"}}",
         head(200, "Ok") + "{\"Id\":\"1\",\"Name\":\"x\"}"},
        {"{\"HttpStatus\":404,\"Data\":{\"error\":\"none\"}}",
         head(404, "Not Found") + "{\"error\":\"none\"}"},
        {"{\"HttpStatus\":\"201\",\"Data\":[1,2]}", head(201, "Created") + "[1,2]"},
        {"{\"HttpStatus\":204}", head(204, "No Content") + "Data is NULL"},
        {"{\"HttpStatus\":429,\"Data\":\"slow down\"}",
         head(429, "Expectation Failed") + "slow down"},
        {"{\"HttpStatus\":417,\"Data\":{}}", head(417, "Expectation Failed") + "{}"},
        {"{\"Data\":{}}", head(500, "Internal Error") + "{}"},
        {"", head(500, "Internal Error") + "root parse failed"},
        {"<html>not json</html>", head(500, "Internal Error") + "root parse failed"},
        {"{\"HttpStatus\":\"abc\",\"Data\":{}}", head(500, "Internal Error") + "{}"},
        {"{\"HttpStatus\":700,\"Data\":1}", head(500, "Internal Error") + "1"},
    };
    for (auto& c : cases) {
        tree->setReply(std::string("GET ") + kExempt, c.reply);
        // A good reply first, so a stale status would show.
        tree->setReply("GET /redfish/v1/sessionservice", "{\"HttpStatus\":202,\"Data\":{}}");
        EXPECT_EQ(raw("GET", "/redfish/v1/sessionservice"), head(202, "Accepted") + "{}");
        EXPECT_EQ(raw("GET", kExempt), c.expected) << c.reply;
    }
}

TEST_F(HandlerE2E, RequestBodyOfAGetIsForwarded) {
    start();
    const std::string body = "{\"Filter\":\"x\"}";
    ts::Response r = ts::request(tree->port, "GET", kExempt, {}, body);
    EXPECT_EQ(r.status, 200);
    auto calls = commandCalls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0]["body"], body);
}

TEST_F(HandlerE2E, PluginGetWritesBothTraceRecordsWithPasswordsMasked) {
    start();
    tree->setReply(std::string("GET ") + kExempt, "{\"HttpStatus\":200,\"Data\":{\"Id\":\"S\"}}");
    const std::string body = "{\"UserName\":\"bob\",\"Password\":\"hunter2\"}";
    ts::request(tree->port, "GET", kExempt, {}, body);
    ts::request(tree->port, "GET", kExempt);

    auto calls = commandCalls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0]["body"], body) << "the plug-in gets the body unchanged";

    const std::string trace = tree->traceLog();
    EXPECT_EQ(trace.find("hunter2"), std::string::npos) << trace;
    const std::regex records(
        "Request Time          : [^\n]+ UTC [0-9]{4}\n"
        "HTTP Method           : GET\n"
        "Request URL           : /redfish/v1/SessionService\n"
        "Request Arguments     : \\{\"UserName\":\"bob\",\"Password\":\"\\*\\*\\*\\*\\*\\*\"\\}\n"
        "Request Thread        : -?[0-9]+\n"
        " {22}\n"
        "Response Time         : [^\n]+ UTC [0-9]{4}\n"
        "Response HTTP Status  : 200, Ok\n"
        "HTTP Method           : GET\n"
        "Response Data         : \\{\"Id\":\"S\"\\}\n"
        "Response Thread       : -?[0-9]+\n"
        "={80}\n"
        "Request Time          : [^\n]+\n"
        "HTTP Method           : GET\n"
        "Request URL           : /redfish/v1/SessionService\n"
        "Request Arguments     : \\{\\}\n"
        "Request Thread        : -?[0-9]+\n"
        " {22}\n"
        "Response Time         : [^\n]+\n"
        "Response HTTP Status  : 200, Ok\n"
        "HTTP Method           : GET\n"
        "Response Data         : \\{\"Id\":\"S\"\\}\n"
        "Response Thread       : -?[0-9]+\n"
        "={80}\n");
    EXPECT_TRUE(std::regex_match(trace, records)) << trace;
}

TEST_F(HandlerE2E, DebugType4TracesTheOwnDocuments) {
    ts::InstallOptions options;
    options.debugMask = 4;
    start(options);
    raw("GET", "/redfish/v1");
    const std::string trace = tree->traceLog();
    EXPECT_NE(trace.find("HTTP Method           : GET\n"
                         "Request URL           : /redfish/v1\n"
                         "Request Arguments     : {}\n"),
              std::string::npos)
        << trace;
    EXPECT_NE(trace.find(std::string("Response HTTP Status  : 200, Ok\n"
                                     "HTTP Method           : GET\n"
                                     "Response Data         : ") +
                         kServiceRoot + "\n"),
              std::string::npos)
        << trace;
    EXPECT_EQ(countOf(trace, "Request Time"), 1);
    EXPECT_EQ(countOf(trace, "Response Time"), 1);
}

TEST_F(HandlerE2E, DebugMask5WritesNoTraceRecordsAtAll) {
    ts::InstallOptions options;
    options.debugMask = 5;
    start(options);
    EXPECT_EQ(raw("GET", "/redfish/v1"), head(200, "Ok") + kServiceRoot);
    EXPECT_EQ(ts::request(tree->port, "GET", kExempt).status, 200);
    EXPECT_EQ(commandCalls().size(), 1u);
    const std::string trace = tree->traceLog();
    EXPECT_EQ(trace.find("Request Time"), std::string::npos) << trace;
    EXPECT_EQ(trace.find("Response Time"), std::string::npos) << trace;
}

TEST_F(HandlerE2E, MissingGetEntryPointAnswers500AndNothingElse) {
    ts::InstallOptions options;
    options.resourcePlugin = ts::scriptedPlugin("NoGet");
    options.debugMask = 3;
    start(options);
    EXPECT_EQ(raw("GET", kExempt), head(500, "Internal Error"));
    const std::string trace = tree->traceLog();
    EXPECT_NE(trace.find("Response HTTP Status  : 500, Internal Error\n"
                         "HTTP Method           : GET\n"
                         "Response Data         : Internal Error\n"),
              std::string::npos)
        << trace;
    EXPECT_EQ(trace.find("Request Time"), std::string::npos) << trace;
    EXPECT_NE(tree->capturedLog().find(
                  "RedfishServerHandler::handleGet()::[DEBUG] GET command handler is NULL"),
              std::string::npos)
        << tree->capturedLog();
    // The own documents do not need the entry point.
    EXPECT_EQ(raw("GET", "/redfish/v1"), head(200, "Ok") + kServiceRoot);
}

TEST_F(HandlerE2E, LogLinesInTheProgramsFormat) {
    start(debugLines());
    tree->setReply(std::string("GET ") + kExempt, "{\"HttpStatus\":200,\"Data\":{\"Id\":\"S\"}}");
    raw("GET", kExempt);
    const std::string log = tree->capturedLog();
    const std::string prefix = "REDFISHSERVER:getredfishhandler\\.cpp:[0-9]+:"
                               "RedfishServerHandler::handleGet\\(\\)::\\[";
    for (const std::string& line :
         {prefix + "DEBUG\\]Entry", prefix + "DEBUG\\]Method = GET",
          prefix + "DEBUG\\]HTTP GET request received for URI = /redfish/v1/SessionService",
          prefix +
              "DEBUG\\] Plugin Response:  \\{\"HttpStatus\":200,\"Data\":\\{\"Id\":\"S\"\\}\\}",
          prefix + "DEBUG\\] Response OUT: \\{\"Id\":\"S\"\\}", prefix + "DEBUG\\]Exit"}) {
        EXPECT_TRUE(std::regex_search(log, std::regex("(^|\n)" + line + "\n"))) << line << "\n"
                                                                                << log;
    }
}

TEST_F(HandlerE2E, DeleteByMethodOverrideReachesTheDeleteOperation) {
    start(debugLines());
    EXPECT_EQ(raw("POST", "/redfish/v1/Systems/1", {"X-HTTP-Method-Override: DELETE"}, "{}"),
              unauthorized());
    const std::string log = tree->capturedLog();
    EXPECT_NE(log.find("RedfishServerHandler::handleDelete()::[DEBUG]Method = DELETE\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("RedfishServerHandler::handleDelete()::[DEBUG]resourceName "
                       "/redfish/v1/Systems/1\n"),
              std::string::npos)
        << log;
    EXPECT_TRUE(commandCalls().empty());
}

TEST_F(HandlerE2E, OversizedBodyGets413AndNoPluginCall) {
    ts::InstallOptions options;
    options.extraConfig = "\"MaximumRequestBodySize\": 64";
    start(options);
    const std::string atCap(64, 'a');
    ts::Response ok = ts::request(tree->port, "GET", kExempt, {}, atCap);
    EXPECT_EQ(ok.status, 200) << ok.raw;
    ASSERT_EQ(commandCalls().size(), 1u);
    EXPECT_EQ(commandCalls()[0]["body"], atCap);

    tree->clearCalls();
    EXPECT_EQ(raw("GET", kExempt, {}, atCap + "b"),
              head(413, "Payload Too Large") +
                  "{\"error\":{\"code\":\"Base.1.0.GeneralError\",\"message\":\"Payload Too "
                  "Large\"}}");
    EXPECT_TRUE(commandCalls().empty());
    // The server stays usable.
    EXPECT_EQ(raw("GET", "/redfish/v1"), head(200, "Ok") + kServiceRoot);
}

TEST_F(HandlerE2E, BodyThatNeverArrivesWholeGets400AndNoPluginCall) {
    start();
    ts::Connection c(tree->port);
    ASSERT_TRUE(c.send(std::string("GET ") + kExempt +
                       " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 50\r\n\r\n0123456789"));
    c.shutdownWrite(); // the client is done sending
    const std::string answer = c.readAll();
    EXPECT_EQ(answer, head(400, "Bad Request") +
                          "{\"error\":{\"code\":\"Base.1.0.GeneralError\",\"message\":\"Bad "
                          "Request\"}}");
    EXPECT_TRUE(commandCalls().empty());
}

TEST_F(HandlerE2E, StalledBodyDoesNotBlockOtherRequests) {
    ts::InstallOptions options;
    options.debugMask = 4; // the engine traces each request once its head is read
    start(options);
    ts::Connection stalled(tree->port);
    ASSERT_TRUE(stalled.send(std::string("GET ") + kExempt +
                             " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 100\r\n\r\n{\"a\":"));
    ASSERT_TRUE(ts::waitUntil([&] {
        return tree->webServerLog().find(std::string("Request URL : ") + kExempt) !=
               std::string::npos;
    })) << tree->webServerLog();

    EXPECT_EQ(raw("GET", "/redfish/v1"), head(200, "Ok") + kServiceRoot);
    EXPECT_EQ(ts::request(tree->port, "GET", kExempt).status, 200);
    // Had the stalled request held the handler lock, the others would have
    // waited for it to be given up and answered first.
    EXPECT_EQ(stalled.readAtLeast(1, 0), "") << "the stalled request was answered first";

    stalled.shutdownWrite();
    const std::string answer = stalled.readAll();
    EXPECT_EQ(answer.substr(0, answer.find("\r\n")), "HTTP/1.1 400 Bad Request");
    for (auto& c : commandCalls())
        EXPECT_NE(c["body"], "{\"a\":") << "the partial body never reaches the plug-in";
}

} // namespace
