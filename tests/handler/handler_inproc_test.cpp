// The request handler behind a real HTTP server in this process, with the
// scripted plug-in loaded directly, so the tests can set up the session table
// (creation times, addresses, roles) and read the handler's fields.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <sys/stat.h>

#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Logger.h"
#include "civetserver.h"
#include "handlertest.h"
#include "loglines.h"
#include "redfishserverhandler.h"
#include "session/sessiontable.h"
#include "testsupport.h"

using namespace handlertest;

namespace {

std::mutex gLogMutex;
std::string gLogText;

void captureLog(const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    char buf[16384];
    std::vsnprintf(buf, sizeof buf, format, ap);
    va_end(ap);
    std::lock_guard<std::mutex> lock(gLogMutex);
    gLogText += buf;
    if (gLogText.empty() || gLogText.back() != '\n')
        gLogText += '\n';
}

std::string logText() {
    std::lock_guard<std::mutex> lock(gLogMutex);
    return gLogText;
}

const char kAdmin[] = "{\"Role\":\"/redfish/v1/AccountService/Roles/Administrator\","
                      "\"OSPrivilegeLevel\":\"Administrator\"}";

class InProcess : public ::testing::Test {
  protected:
    void startWith(const std::string& variant) {
        {
            std::lock_guard<std::mutex> lock(gLogMutex);
            gLogText.clear();
        }
        dir = ts::makeTempDir("tolvane-handler");
        setenv("SCRIPTED_PLUGIN_DIR", dir.c_str(), 1);
        setenv("TOLVANE_LOG_DIR", dir.c_str(), 1);
        Logger::SetLogFilePath();
        Logger::SetDebugLevel(3); // trace records, and the DEBUG lines read below
        gLogFunction = &captureLog;

        module = dlopen(ts::scriptedPlugin(variant).c_str(), RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(module, nullptr) << dlerror();
        mg_init_library(0);
        port = ts::freePort();
        server = std::make_unique<CivetServer>(std::vector<std::string>{
            "listening_ports", "127.0.0.1:" + std::to_string(port), "num_threads", "4"});
        server->setBodyPrefetch(1024 * 1024, 2000);
        handler = std::make_unique<RedfishServerHandler>("10.1.1.1", module, 1800);
        server->addHandler("/redfish", handler.get());
    }
    void SetUp() override {
        sessionTable.clear();
        startWith("");
    }
    void TearDown() override {
        if (server)
            server->close();
        server.reset();
        handler.reset();
        gLogFunction = nullptr;
        if (module)
            dlclose(module);
        mg_exit_library();
        sessionTable.clear();
        if (!dir.empty())
            ts::removeTree(dir);
    }

    // Session records are only touched under the handler lock.
    void addRecord(const std::string& token, const std::string& address, int64_t createdAt,
                   const std::string& info = kAdmin, const std::string& location = "") {
        SessionRecord r;
        r.token = token;
        r.sessionInfo = info;
        r.hostName = "10.1.1.1";
        r.clientAddress = address;
        r.createdAt = createdAt;
        r.location = location;
        mg_global_lock();
        sessionTable.push_back(r);
        mg_global_unlock();
    }
    size_t sessionCount() {
        mg_global_lock();
        size_t n = sessionTable.size();
        mg_global_unlock();
        return n;
    }
    void setReply(const std::string& key, const std::string& reply, int delayMs = 0) {
        ts::setScriptedReply(dir + "/", key, reply, delayMs);
    }
    std::vector<nlohmann::json> calls() { return ts::scriptedCalls(dir + "/"); }
    void clearCalls() { std::remove((dir + "/calls.jsonl").c_str()); }
    std::string trace() { return ts::readFile(dir + "/RedfishClientTrace.log"); }
    ts::Response send(const std::string& method, const std::string& target,
                      const std::vector<std::string>& headers = {}, const std::string& body = "") {
        return ts::request(port, method, target, headers, body);
    }
    static int64_t now() { return static_cast<int64_t>(std::time(nullptr)); }

    std::string dir;
    void* module = nullptr;
    int port = 0;
    std::unique_ptr<CivetServer> server;
    std::unique_ptr<RedfishServerHandler> handler;
};

TEST_F(InProcess, SessionTokenFromHeaderOrCookie) {
    addRecord("tok-1", "127.0.0.1", now());
    for (const std::string& credential :
         {std::string("X-Auth-Token: tok-1"), std::string("Cookie: sessionId =tok-1"),
          std::string("Cookie: sessionId=tok-1"), std::string("Cookie: a=b; sessionId=tok-1")}) {
        clearCalls();
        ts::Response r = send("GET", "/redfish/v1/Systems", {credential});
        EXPECT_EQ(r.status, 200) << credential << "\n" << r.raw;
        auto c = calls();
        ASSERT_EQ(c.size(), 1u) << credential;
        EXPECT_EQ(c[0]["uri"], "/redfish/v1/Systems");
    }
}

TEST_F(InProcess, RefusalsOfTheTokenBinding) {
    addRecord("tok-1", "127.0.0.1", now());
    addRecord("tok-2", "127.0.0.2", now()); // another client's session
    EXPECT_EQ(send("GET", "/redfish/v1/Systems").raw, unauthorized()) << "token missing";
    EXPECT_EQ(send("GET", "/redfish/v1/Systems", {"X-Auth-Token: tok-9"}).raw, unauthorized())
        << "wrong token";
    EXPECT_EQ(send("GET", "/redfish/v1/Systems", {"X-Auth-Token: tok-2"}).raw, unauthorized())
        << "token of another address";
    EXPECT_EQ(send("GET", "/redfish/v1/Systems", {"X-Auth-Token: TOK-1"}).raw, unauthorized());
    EXPECT_EQ(send("GET", "/redfish/v1/Systems", {"X-Auth-Token: tok-"}).raw, unauthorized());
    EXPECT_EQ(send("GET", "/redfish/v1/Systems", {"Cookie: sessionId=tok-2"}).raw, unauthorized());
    EXPECT_TRUE(calls().empty());
    EXPECT_EQ(sessionCount(), 2u);
}

TEST_F(InProcess, SessionExpiresOneDayAfterLoginAndIsRemoved) {
    addRecord("young", "127.0.0.1", now() - kSessionLifetimeSeconds + 30);
    addRecord("old", "127.0.0.1", now() - kSessionLifetimeSeconds - 1);
    EXPECT_EQ(send("GET", "/redfish/v1/Systems", {"X-Auth-Token: young"}).status, 200);
    EXPECT_EQ(sessionCount(), 2u);
    EXPECT_EQ(send("GET", "/redfish/v1/Systems", {"X-Auth-Token: old"}).raw, unauthorized());
    EXPECT_EQ(sessionCount(), 1u);
    mg_global_lock();
    EXPECT_EQ(sessionTable[0].token, "young");
    mg_global_unlock();
}

TEST_F(InProcess, RolesAndOsPrivilegeLevels) {
    struct Case {
        const char* info;
        int status;
    };
    const Case cases[] = {
        {"{\"Role\":\"/redfish/v1/AccountService/Roles/ReadOnlyUser\",\"OSPrivilegeLevel\":\"x\"}",
         401},
        {"{\"Role\":\"/REDFISH/V1/ACCOUNTSERVICE/ROLES/READONLYUSER\",\"OSPrivilegeLevel\":\"x\"}",
         401},
        {"{\"Role\":\"/redfish/v1/AccountService/Roles/"
         "OSUser\",\"OSPrivilegeLevel\":\"undefined\"}",
         401},
        {"{\"Role\":\"/redfish/v1/AccountService/Roles/"
         "OSUser\",\"OSPrivilegeLevel\":\"ReadOnlyUser\"}",
         401},
        {"{\"Role\":\"/redfish/v1/AccountService/Roles/"
         "OSUser\",\"OSPrivilegeLevel\":\"READONLYUSER\"}",
         401},
        {"{\"Role\":\"/redfish/v1/AccountService/Roles/"
         "OSUser\",\"OSPrivilegeLevel\":\"Administrator\"}",
         200},
        {"{\"Role\":\"/redfish/v1/AccountService/Roles/Administrator\"}", 401},
        {"not json", 401},
        {kAdmin, 200},
    };
    int i = 0;
    for (const Case& c : cases) {
        const std::string token = "t" + std::to_string(i++);
        addRecord(token, "127.0.0.1", now(), c.info);
        EXPECT_EQ(send("GET", "/redfish/v1/Systems", {"X-Auth-Token: " + token}).status, c.status)
            << c.info;
        EXPECT_EQ(send("PATCH", "/redfish/v1/Systems", {"X-Auth-Token: " + token}).status, c.status)
            << c.info;
    }
}

TEST_F(InProcess, ExpandRulesOfTheForwardedUri) {
    addRecord("tok", "127.0.0.1", now());
    const std::pair<const char*, const char*> cases[] = {
        {"/redfish/v1/Systems?$expand=Members", "/redfish/v1/Systems?$expand=Members"},
        {"/redfish/v1/Systems?$expand=*", "/redfish/v1/Systems?$expand=Members"},
        {"/redfish/v1/Systems?$top=1&$skip=2", "/redfish/v1/Systems?$expand=Members"},
        {"/redfish/v1/Systems?members", "/redfish/v1/Systems"},
        {"/redfish/v1/Systems?Members", "/redfish/v1/Systems"},
        {"/redfish/v1/Systems?emb", "/redfish/v1/Systems"},
        {"/redfish/v1/Systems?", "/redfish/v1/Systems"},
        {"/redfish/v1/Systems", "/redfish/v1/Systems"},
        {"/redfish/v1/Systems/1/../2", "/redfish/v1/Systems/2"},
    };
    for (auto& c : cases) {
        clearCalls();
        ts::Response r = send("GET", c.first, {"X-Auth-Token: tok"});
        EXPECT_EQ(r.status, 200) << c.first;
        auto got = calls();
        ASSERT_EQ(got.size(), 1u) << c.first;
        EXPECT_EQ(got[0]["uri"], c.second) << c.first;
    }
}

TEST_F(InProcess, PatchForwardsTheResourceUriWithoutQuery) {
    addRecord("tok", "127.0.0.1", now());
    setReply("PATCH /redfish/v1/Systems/1", "{\"HttpStatus\":200,\"Data\":{\"Id\":\"1\"}}");
    ts::Response r = send("PATCH", "/redfish/v1/Systems/1?x=1", {"X-Auth-Token: tok"});
    EXPECT_EQ(r.raw, head(200, "Ok") + "{\"Id\":\"1\"}");
    r = send("PATCH", "/redfish/v1/Systems/../Systems/1", {"X-Auth-Token: tok"},
             "{\"AssetTag\":\"a\"}");
    EXPECT_EQ(r.status, 200);
    auto c = calls();
    ASSERT_EQ(c.size(), 2u);
    EXPECT_EQ(c[0]["entry"], "PATCH");
    EXPECT_EQ(c[0]["uri"], "/redfish/v1/Systems/1");
    EXPECT_EQ(c[0]["body"], "{}");
    EXPECT_EQ(c[1]["uri"], "/redfish/v1/Systems/1");
    EXPECT_EQ(c[1]["body"], "{\"AssetTag\":\"a\"}");

    const std::string t = trace();
    EXPECT_NE(t.find("HTTP Method           : PATCH\nRequest URL           : "
                     "/redfish/v1/Systems/1\nRequest Arguments     : {}\n"),
              std::string::npos)
        << t;
    EXPECT_EQ(countOf(t, "Request Time"), 2);
    EXPECT_EQ(countOf(t, "Response Time"), 2);
    const std::string log = logText();
    EXPECT_NE(log.find(":RedfishServerHandler::handlePatch()::[DEBUG]HTTP PATCH request received "
                       "for URI = /redfish/v1/Systems/1\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find(":RedfishServerHandler::handlePatch()::[DEBUG]Method = PATCH \n"),
              std::string::npos);
    EXPECT_NE(
        log.find(":RedfishServerHandler::handlePatch()::[DEBUG] Response OUT : {\"Id\":\"1\"}"),
        std::string::npos);
}

TEST_F(InProcess, StatuslessRepliesOfPatchAndDeleteAre500) {
    addRecord("tok", "127.0.0.1", now());
    setReply("PATCH", "{\"Data\":{}}");
    setReply("DELETE", "oops");
    EXPECT_EQ(send("PATCH", "/redfish/v1/Systems/1", {"X-Auth-Token: tok"}).raw,
              head(500, "Internal Error") + "{}");
    EXPECT_EQ(send("DELETE", "/redfish/v1/Systems/1", {"X-Auth-Token: tok"}).raw,
              head(500, "Internal Error") + "root parse failed");
}

TEST_F(InProcess, LogoutEndsTheSessionAtOnce) {
    const std::string location = "/redfish/v1/SessionService/Sessions/7";
    const std::string other = "/redfish/v1/SessionService/Sessions/8";
    addRecord("tok", "127.0.0.1", now(), kAdmin, location);
    addRecord("tok-b", "127.0.0.1", now(), kAdmin, other);

    // What the plug-in has forgotten the server's table still ends.
    setReply("DELETE " + location, "{\"HttpStatus\":404,\"Data\":{}}");
    EXPECT_EQ(send("DELETE", location, {"X-Auth-Token: tok"}).status, 200);
    EXPECT_EQ(sessionCount(), 1u);
    EXPECT_EQ(send("GET", "/redfish/v1/Systems", {"X-Auth-Token: tok"}).raw, unauthorized());

    setReply("DELETE " + other + "/", "{\"HttpStatus\":204}");
    EXPECT_EQ(send("DELETE", other + "/", {"X-Auth-Token: tok-b"}).raw,
              head(204, "No Content") + "Data is NULL");
    EXPECT_EQ(sessionCount(), 0u);
    EXPECT_EQ(send("GET", "/redfish/v1/Systems", {"X-Auth-Token: tok-b"}).raw, unauthorized());

    const std::string log = logText();
    EXPECT_NE(log.find(":RedfishServerHandler::handleDelete()::[DEBUG]resourceName " + other),
              std::string::npos)
        << log;
    EXPECT_NE(log.find(":RedfishServerHandler::handleDelete()::[DEBUG] Response OUT :Data is NULL"),
              std::string::npos)
        << log;
}

TEST_F(InProcess, HostNameLearntOnceFromTheHostHeader) {
    EXPECT_FALSE(handler->hostNameKnown);
    // The own documents do not look at the Host header.
    send("GET", "/redfish/v1");
    EXPECT_FALSE(handler->hostNameKnown);
    EXPECT_EQ(handler->hostName, "10.1.1.1");

    // The helper sends "Host: 127.0.0.1:<port>"; send raw requests instead.
    auto rawGet = [this](const std::string& hostLines) {
        return ts::parseResponse(ts::exchange(port, "GET /redfish/v1/Systems HTTP/1.1\r\n" +
                                                        hostLines + "Connection: close\r\n\r\n"));
    };
    EXPECT_EQ(rawGet("host: lower.example:1\r\n").status, 401);
    EXPECT_FALSE(handler->hostNameKnown) << "the name must be exactly \"Host\"";
    EXPECT_EQ(rawGet("Host: :8443\r\n").status, 401);
    EXPECT_FALSE(handler->hostNameKnown) << "an empty host changes nothing";
    EXPECT_EQ(rawGet("Host: [fe80::1]:8443\r\n").status, 401);
    EXPECT_TRUE(handler->hostNameKnown);
    EXPECT_EQ(handler->hostName, "[fe80::1]");
    EXPECT_EQ(rawGet("Host: other.example:9\r\n").status, 401);
    EXPECT_EQ(handler->hostName, "[fe80::1]") << "later Host headers are ignored";
}

TEST_F(InProcess, HostNameWithPortKeepsTheName) {
    ts::exchange(port, "GET /redfish/v1/Systems HTTP/1.1\r\nHost: bmc.example:8443\r\nConnection: "
                       "close\r\n\r\n");
    EXPECT_EQ(handler->hostName, "bmc.example");
    EXPECT_TRUE(handler->hostNameKnown);
}

TEST_F(InProcess, FailedAnswerWriteIsLoggedAndTracedPerMethod) {
    // GET and DELETE trace and log the failure (a record of the body would
    // claim an answer nobody received); PATCH logs it and traces nothing.
    struct Case {
        const char* method;
        const char* function;
        bool errorLogged;
        const char* responseData; // nullptr: no response record
    };
    const Case cases[] = {
        {"GET", "handleGet", true, " Failed to send the response to client"},
        {"PATCH", "handlePatch", true, nullptr},
        {"DELETE", "handleDelete", true, " Failed to send the response to client"},
    };
    addRecord("tok", "127.0.0.1", now());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.method);
        {
            std::lock_guard<std::mutex> lock(gLogMutex);
            gLogText.clear();
        }
        std::remove((dir + "/RedfishClientTrace.log").c_str());
        // The plug-in answers long after the client has gone.
        setReply(c.method, "{\"HttpStatus\":200,\"Data\":{\"Id\":\"1\"}}", 1500);
        ts::Connection client(port);
        ASSERT_TRUE(client.send(std::string(c.method) +
                                " /redfish/v1/Systems/1 HTTP/1.1\r\nHost: h\r\nX-Auth-Token: "
                                "tok\r\nContent-Length: 2\r\n\r\n{}"));
        // The request record is written just before the plug-in call.
        ASSERT_TRUE(ts::waitUntil([&] { return countOf(trace(), "Request Time") == 1; }));
        client.abort();
        const std::string fn = std::string(":RedfishServerHandler::") + c.function + "()::";
        ASSERT_TRUE(
            ts::waitUntil([&] { return logText().find(fn + "[DEBUG]Exit") != std::string::npos; }));
        EXPECT_EQ(logText().find(fn + "[ERROR] Failed to send the response to client") !=
                      std::string::npos,
                  c.errorLogged)
            << logText();
        const std::string t = trace();
        EXPECT_EQ(countOf(t, "Response Time"), c.responseData ? 1 : 0) << t;
        if (c.responseData) {
            EXPECT_NE(
                t.find(std::string("Response HTTP Status  : 200, Ok\nHTTP Method           : ") +
                       c.method + "\nResponse Data         : " + c.responseData + "\n"),
                std::string::npos)
                << t;
        }
    }
}

TEST_F(InProcess, OversizedPatchBodyGets413WithoutPluginCall) {
    server->setBodyPrefetch(16, 2000);
    addRecord("tok", "127.0.0.1", now());
    ts::Response r =
        send("PATCH", "/redfish/v1/Systems/1", {"X-Auth-Token: tok"}, std::string(17, 'x'));
    EXPECT_EQ(r.status, 413);
    EXPECT_EQ(r.reason, "Payload Too Large");
    r = send("DELETE", "/redfish/v1/Systems/1", {"X-Auth-Token: tok"}, std::string(17, 'x'));
    EXPECT_EQ(r.status, 413);
    EXPECT_TRUE(calls().empty());
    EXPECT_EQ(
        send("PATCH", "/redfish/v1/Systems/1", {"X-Auth-Token: tok"}, std::string(16, 'x')).status,
        200);
}

class InProcessNoPatch : public InProcess {
  protected:
    void SetUp() override { startWith("NoPatch"); }
};

TEST_F(InProcessNoPatch, MissingEntryPointAnswers500Only) {
    addRecord("tok", "127.0.0.1", now());
    EXPECT_EQ(send("PATCH", "/redfish/v1/Systems/1", {"X-Auth-Token: tok"}).raw,
              head(500, "Internal Error"));
    EXPECT_NE(logText().find(":RedfishServerHandler::handlePatch()::[DEBUG] PATCH command "
                             "handler is NULL"),
              std::string::npos);
    EXPECT_NE(trace().find("Response HTTP Status  : 500, Internal Error\nHTTP Method           : "
                           "PATCH\nResponse Data         : Internal Error\n"),
              std::string::npos);
}

class InProcessNoDelete : public InProcess {
  protected:
    void SetUp() override { startWith("NoDelete"); }
};

TEST_F(InProcessNoDelete, MissingEntryPointAnswers500Only) {
    addRecord("tok", "127.0.0.1", now());
    EXPECT_EQ(send("DELETE", "/redfish/v1/Systems/1", {"X-Auth-Token: tok"}).raw,
              head(500, "Internal Error"));
    EXPECT_NE(logText().find(":RedfishServerHandler::handleDelete()::[DEBUG] Delete command "
                             "handler is NULL"),
              std::string::npos);
}

TEST(InProcessNoModule, NothingIsAnsweredWithoutThePlugin) {
    gLogFunction = &captureLog;
    mg_init_library(0);
    int port = ts::freePort();
    CivetServer server(
        std::vector<std::string>{"listening_ports", "127.0.0.1:" + std::to_string(port)});
    RedfishServerHandler handler("h", nullptr, 0);
    server.addHandler("/redfish", &handler);
    ts::Response r = ts::request(port, "GET", "/redfish/v1");
    // The library answers the unhandled request itself.
    EXPECT_EQ(r.status, 404) << r.raw;
    EXPECT_NE(logText().find(":RedfishServerHandler::handleGet()::[ERROR]Redfish Server handler is "
                             "NULL"),
              std::string::npos);
    server.close();
    gLogFunction = nullptr;
    mg_exit_library();
}

} // namespace
