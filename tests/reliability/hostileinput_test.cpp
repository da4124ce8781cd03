// Hostile input: bodies above the configured limit, request lines and headers
// that are not HTTP, and multipart uploads that are cut short or carry the
// wrong boundary. Each gets a whole error answer, nothing reaches the plug-in
// that should not, nothing stays in the uploads directory, and the server
// goes on serving.
#include <atomic>
#include <filesystem>
#include <iostream>
#include <thread>

#include <gtest/gtest.h>

#include "reliability.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t kLimit = 4096;
using rel::kAuth;
using rel::kToken;
const std::string kUploadUri =
    "/redfish/v1/Systems/1/Storage/1/Actions/Oem/Veltrano.InstallOrUpgradeFirmware";

class HostileInput : public ::testing::Test {
  protected:
    void SetUp() override {
        ts::InstallOptions o;
        o.extraConfig = "\"MaximumRequestBodySize\": " + std::to_string(kLimit);
        tree = std::make_unique<ts::InstallTree>(o);
        tree->setReply("POST /redfish/v1/SessionService/Sessions",
                       rel::scriptedLoginReply(kToken, "/redfish/v1/SessionService/Sessions/1"));
        // As the bundled plug-in does for an upload without a file.
        tree->setReply("POST " + kUploadUri,
                       "{\"HttpStatus\":400,\"Data\":{\"error\":\"no usable file\"}}");
        server = std::make_unique<ts::ServerProcess>(*tree);
        ASSERT_TRUE(server->waitReady()) << server->output();
        ts::Response login = ts::request(tree->port, "POST", "/redfish/v1/SessionService/Sessions",
                                         {"Content-Type: application/json"}, "{}");
        ASSERT_EQ(login.status, 201) << login.raw;
        tree->clearCalls();
    }

    // Entry points called since the last look, login excluded.
    std::vector<nlohmann::json> newCalls() {
        std::vector<nlohmann::json> calls = tree->calls();
        tree->clearCalls();
        return calls;
    }

    // The server still answers a plain read and a plug-in read.
    void expectServing(const std::string& after) {
        ASSERT_TRUE(server->running()) << "died after " << after << ": " << server->output();
        EXPECT_EQ(ts::request(tree->port, "GET", "/redfish/v1").status, 200) << after;
        EXPECT_EQ(ts::request(tree->port, "GET", "/redfish/v1/Systems", {kAuth}).status, 200)
            << after;
        newCalls();
    }

    std::vector<std::string> uploadsLeft() const {
        std::vector<std::string> names;
        std::error_code ec;
        for (auto& e : fs::directory_iterator(tree->serverDir + "uploads", ec))
            names.push_back(e.path().filename().string());
        return names;
    }

    std::unique_ptr<ts::InstallTree> tree;
    std::unique_ptr<ts::ServerProcess> server;
};

std::string chunked(const std::string& body, size_t piece) {
    std::string out;
    for (size_t i = 0; i < body.size(); i += piece) {
        const std::string part = body.substr(i, piece);
        char size[32];
        std::snprintf(size, sizeof size, "%zx\r\n", part.size());
        out += size + part + "\r\n";
    }
    return out + "0\r\n\r\n";
}

} // namespace

TEST_F(HostileInput, BodiesAboveTheLimitGet413AndNeverReachThePlugin) {
    const std::string big(kLimit + 1, 'x');
    const std::string bigJson = "{\"Pad\":\"" + std::string(kLimit, 'p') + "\"}";
    struct Case {
        std::string name;
        std::string request;
    };
    const int port = tree->port;
    const std::vector<Case> cases = {
        {"POST one byte over", rel::requestText(port, "POST", "/redfish/v1/Systems", {kAuth}, big)},
        {"PATCH JSON over", rel::requestText(port, "PATCH", "/redfish/v1/Systems/1",
                                             {kAuth, "Content-Type: application/json"}, bigJson)},
        {"DELETE with a large body",
         rel::requestText(port, "DELETE", "/redfish/v1/Systems/1", {kAuth}, big)},
        {"GET with a large body",
         rel::requestText(port, "GET", "/redfish/v1/Systems", {kAuth}, big)},
        {"login over", rel::requestText(port, "POST", "/redfish/v1/SessionService/Sessions",
                                        {"Content-Type: application/json"}, bigJson)},
        {"chunked PATCH over", "PATCH /redfish/v1/Systems/1 HTTP/1.1\r\nHost: 127.0.0.1\r\n" +
                                   kAuth +
                                   "\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n" +
                                   chunked(bigJson, 1000)},
        {"multipart to a plain URI over",
         rel::requestText(port, "POST", "/redfish/v1/Systems",
                          {kAuth, "Content-Type: multipart/form-data; boundary=b0"},
                          ts::multipartBody("b0", {{"f", "", big}}))},
    };
    for (const Case& c : cases) {
        rel::Exchange ex = rel::roundTrip(port, c.request);
        EXPECT_EQ(rel::malformation(ex.raw), "") << c.name << ": " << ex.raw;
        EXPECT_EQ(rel::statusOf(ex.raw), 413) << c.name << ": " << ex.raw;
        ts::Response r = ts::parseResponse(ex.raw);
        EXPECT_NE(r.body.find("Payload Too Large"), std::string::npos) << c.name << ": " << r.raw;
        EXPECT_TRUE(newCalls().empty()) << c.name << " reached the plug-in";
        expectServing(c.name);
    }

    // After refusing a body the server closes instead of draining what the
    // client declared (well before the 30 s request time-out).
    rel::Exchange declared =
        rel::roundTrip(port,
                       "PATCH /redfish/v1/Systems/1 HTTP/1.1\r\nHost: 127.0.0.1\r\n" + kAuth +
                           "\r\nContent-Length: 1000000000000\r\n\r\n{\"a\":",
                       25000);
    EXPECT_EQ(rel::statusOf(declared.raw), 413) << declared.raw;
    EXPECT_FALSE(declared.timedOut) << "the refused connection stayed open";

    // A client that streams a huge body is cut off, not read to its end.
    {
        const size_t total = 256u * 1024 * 1024;
        ts::ConnectOptions o;
        o.timeoutMs = 20000;
        ts::Connection c(port, o);
        ASSERT_TRUE(c.send("PATCH /redfish/v1/Systems/1 HTTP/1.1\r\nHost: 127.0.0.1\r\n" + kAuth +
                           "\r\nContent-Length: " + std::to_string(total) + "\r\n\r\n"));
        std::atomic<size_t> sent{0};
        std::thread sender([&] {
            const std::string piece(64 * 1024, 'z');
            while (sent.load() < total && c.send(piece))
                sent += piece.size();
            c.shutdownWrite();
        });
        const std::string raw = c.readAll(20000);
        sender.join();
        EXPECT_LT(sent.load(), total) << "the server read the whole refused body";
        if (!raw.empty()) {
            EXPECT_EQ(rel::statusOf(raw), 413) << raw;
        }
        EXPECT_TRUE(newCalls().empty());
        expectServing("a streamed huge body");
    }

    // Multipart bodies are read under the handler; a refused one is not
    // drained either: to a plain URI over the limit, and an upload whose
    // field value is larger than a field may be.
    const std::string hugeLength = "\r\nContent-Length: 1000000000000\r\n\r\n";
    const std::vector<std::pair<std::string, std::string>> multipart = {
        {"multipart to a plain URI",
         "POST /redfish/v1/Systems HTTP/1.1\r\nHost: 127.0.0.1\r\n" + kAuth +
             "\r\nContent-Type: multipart/form-data; boundary=plainboundary" + hugeLength +
             "--plainboundary\r\n" + "Content-Disposition: form-data; name=\"f\"\r\n\r\n" +
             std::string(kLimit + 8192, 'm')},
        {"upload field too large",
         "POST " + kUploadUri + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + kAuth +
             "\r\nContent-Type: multipart/form-data; boundary=fieldboundary" + hugeLength +
             "--fieldboundary\r\n" + "Content-Disposition: form-data; name=\"Note\"\r\n\r\n" +
             std::string(80 * 1024, 'n')},
    };
    for (const auto& c : multipart) {
        rel::Exchange ex = rel::roundTrip(port, c.second, 25000);
        EXPECT_EQ(rel::statusOf(ex.raw), 413) << c.first << ": " << ex.raw;
        EXPECT_FALSE(ex.timedOut) << c.first << ": the refused connection stayed open";
        EXPECT_TRUE(newCalls().empty()) << c.first;
        EXPECT_TRUE(uploadsLeft().empty()) << c.first;
        expectServing(c.first);
    }

    // The limit itself is allowed, and the body arrives whole.
    const std::string atLimit = "{\"Pad\":\"" + std::string(kLimit - 10, 'q') + "\"}";
    ASSERT_EQ(atLimit.size(), kLimit);
    ts::Response ok = ts::request(port, "PATCH", "/redfish/v1/Systems/1", {kAuth}, atLimit);
    EXPECT_EQ(ok.status, 200) << ok.raw;
    std::vector<nlohmann::json> calls = newCalls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0]["body"], atLimit);
}

TEST_F(HostileInput, MalformedRequestsGetTheLibrarysCleanAnswer) {
    struct Case {
        std::string name;
        std::string request;
        int lowest; // the answer's status lies in [lowest, highest]
        int highest;
    };
    const std::string patch = "PATCH /redfish/v1/Systems/1 HTTP/1.1\r\nHost: 127.0.0.1\r\n" + kAuth;
    const std::vector<Case> cases = {
        {"not HTTP at all", "GARBAGE\r\n\r\n", 400, 499},
        {"method alone", "GET\r\n\r\n", 400, 499},
        {"no version", "GET /redfish/v1\r\n\r\n", 400, 499},
        {"unknown protocol", "GET /redfish/v1 SPDY/3\r\n\r\n", 400, 499},
        {"protocol in small letters", "GET /redfish/v1 http/1.1\r\n\r\n", 400, 499},
        {"unknown method", "FETCH /redfish/v1 HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", 400, 499},
        // A version the engine does not speak: its 505, in a status line of its own version.
        {"HTTP/2.0 in the request line", "GET /redfish/v1 HTTP/2.0\r\n\r\n", 505, 505},
        {"HTTP/9.9 in the request line", "GET /redfish/v1 HTTP/9.9\r\n\r\n", 505, 505},
        {"version with a tail", "GET /redfish/v1 HTTP/1.1x\r\n\r\n", 505, 505},
        {"header without colon",
         "GET /redfish/v1/Systems HTTP/1.1\r\nHost: 127.0.0.1\r\n" + kAuth +
             "\r\nThis is no header\r\n\r\n",
         400, 499},
        {"Content-Length not a number", patch + "\r\nContent-Length: many\r\n\r\n{}", 400, 499},
        {"negative Content-Length", patch + "\r\nContent-Length: -5\r\n\r\n{}", 400, 499},
        {"broken chunk sizes",
         patch + "\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n{}\r\n0\r\n\r\n", 400, 499},
        {"header block larger than the library takes",
         "GET /redfish/v1/Systems HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Big: " +
             std::string(40000, 'h') + "\r\n\r\n",
         400, 499},
        {"zero byte in the request line",
         std::string("GET /redfish/\0v1 HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", 45), 400, 499},
        {"URI without a leading slash", "GET redfish/v1 HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", 400,
         499},
    };
    for (const Case& c : cases) {
        rel::Exchange ex = rel::roundTrip(tree->port, c.request);
        EXPECT_EQ(rel::malformation(ex.raw), "") << c.name << ": " << ex.raw;
        const int status = rel::statusOf(ex.raw);
        EXPECT_GE(status, c.lowest) << c.name << ": " << ex.raw;
        EXPECT_LE(status, c.highest) << c.name << ": " << ex.raw;
        EXPECT_TRUE(newCalls().empty()) << c.name << " reached the plug-in";
        expectServing(c.name);
    }

    // Content-Length beside chunked coding: refused, or the chunked body wins
    // as HTTP/1.1 wants; never the first bytes of the chunk coding.
    rel::Exchange both = rel::roundTrip(
        tree->port, patch + "\r\nContent-Length: 2\r\nTransfer-Encoding: chunked\r\n\r\n"
                            "2\r\n{}\r\n0\r\n\r\n");
    EXPECT_EQ(rel::malformation(both.raw), "") << both.raw;
    const int status = rel::statusOf(both.raw);
    std::vector<nlohmann::json> calls = newCalls();
    if (status == 200) {
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0]["body"], "{}");
    } else {
        EXPECT_GE(status, 400) << both.raw;
        EXPECT_LT(status, 500) << both.raw;
        EXPECT_TRUE(calls.empty());
    }
    expectServing("length and chunked together");
}

TEST_F(HostileInput, BrokenMultipartUploadsLeaveNothingBehind) {
    const std::string content(20000, 'F');
    const std::string whole = ts::multipartBody(
        "goodboundary", {{"AllowDowngrade", "", "true"}, {"UpdateFile", "fw.img", content}});
    const std::string head = "POST " + kUploadUri + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + kAuth +
                             "\r\nConnection: close\r\n";
    const std::string form = "Content-Type: multipart/form-data; boundary=";
    const size_t cut = whole.find(content) + content.size() / 2;
    struct Case {
        std::string name;
        std::string request;
        bool halfClose; // the client stops sending after the request
    };
    const std::vector<Case> cases = {
        {"cut inside the file, length as sent",
         head + form + "goodboundary\r\nContent-Length: " + std::to_string(cut) + "\r\n\r\n" +
             whole.substr(0, cut),
         false},
        {"no closing boundary",
         head + form + "goodboundary\r\nContent-Length: " +
             std::to_string(whole.size() - std::string("--goodboundary--\r\n").size()) +
             "\r\n\r\n" +
             whole.substr(0, whole.size() - std::string("--goodboundary--\r\n").size()),
         false},
        {"client gone before the declared length",
         head + form + "goodboundary\r\nContent-Length: " + std::to_string(whole.size()) +
             "\r\n\r\n" + whole.substr(0, cut),
         true},
        {"wrong boundary",
         head + form + "otherboundary\r\nContent-Length: " + std::to_string(whole.size()) +
             "\r\n\r\n" + whole,
         false},
        {"no boundary at all",
         head + "Content-Type: multipart/form-data\r\nContent-Length: " +
             std::to_string(whole.size()) + "\r\n\r\n" + whole,
         false},
    };
    for (const Case& c : cases) {
        std::string raw;
        if (c.halfClose) {
            // Send, then shut the sending side: the server sees the body end early.
            ts::Connection client(tree->port);
            client.send(c.request);
            client.shutdownWrite();
            raw = client.readAll(20000);
        } else {
            raw = rel::roundTrip(tree->port, c.request).raw;
        }
        EXPECT_EQ(rel::malformation(raw), "") << c.name << ": " << raw;
        const int status = rel::statusOf(raw);
        EXPECT_GE(status, 400) << c.name << ": " << raw;
        EXPECT_LT(status, 500) << c.name << ": " << raw;
        // The plug-in may hear of the request, but never of a file cut short.
        for (auto& call : newCalls()) {
            nlohmann::json arg = nlohmann::json::parse(call.value("body", ""), nullptr, false);
            EXPECT_EQ(arg.is_object() ? arg.value("absoluteFilePath", "?") : "?", "")
                << c.name << ": " << call.dump();
        }
        EXPECT_TRUE(uploadsLeft().empty())
            << c.name << " left " << uploadsLeft().size() << " file(s) in uploads";
        expectServing(c.name);
    }

    // A whole upload still works afterwards, and is removed after the answer.
    tree->setReply("POST " + kUploadUri, "{\"HttpStatus\":200,\"Data\":{\"done\":true}}");
    ts::Response ok =
        ts::request(tree->port, "POST", kUploadUri, {kAuth, form + "goodboundary"}, whole);
    EXPECT_EQ(ok.status, 200) << ok.raw;
    std::vector<nlohmann::json> calls = newCalls();
    ASSERT_EQ(calls.size(), 1u);
    nlohmann::json arg = nlohmann::json::parse(calls[0].value("body", ""), nullptr, false);
    ASSERT_TRUE(arg.is_object()) << calls[0].dump();
    EXPECT_NE(arg.value("absoluteFilePath", "").find("fw.img"), std::string::npos);
    EXPECT_TRUE(uploadsLeft().empty());
}

// A length one reader takes one way and another reader another (a sign, a
// tail, a list, two values) or a folded header line the engine would stop
// at: 400, and what follows on the connection is never taken as a request.
TEST_F(HostileInput, AmbiguousLengthOrFoldedHeaderIsRefusedAndEndsTheConnection) {
    const std::string patch = "PATCH /redfish/v1/Systems/1 HTTP/1.1\r\nHost: 127.0.0.1\r\n" + kAuth;
    const std::string smuggled = "GET /redfish HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    const std::string framings[] = {
        "Content-Length: +2",
        "Content-Length: 2abc",
        "Content-Length: 2,2",
        "Content-Length:",
        "Content-Length: 2\r\nContent-Length: 3",
        "X-Note: a\r\n folded\r\nContent-Length: 2",
        "X-Note: a\r\n\tfolded\r\nContent-Length: 2",
    };
    for (const std::string& framing : framings) {
        const rel::Exchange ex =
            rel::roundTrip(tree->port, patch + "\r\n" + framing + "\r\n\r\n{}" + smuggled);
        EXPECT_EQ(rel::statusOf(ex.raw), 400) << framing << ": " << ex.raw;
        EXPECT_EQ(ex.raw.find("HTTP/1.1", 1), std::string::npos) << framing << ": " << ex.raw;
        EXPECT_TRUE(newCalls().empty()) << framing << " reached the plug-in";
    }
}
