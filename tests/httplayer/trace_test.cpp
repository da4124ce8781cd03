// The debug log type, the request trace and the layout of information lines
// in the engine's error log.
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <regex>
#include <thread>

#include "hostkit.h"

using hostkit::exchange;

namespace {

// Answers 200 "ok" and leaves the connection open when the client allows.
class KeepAliveHandler : public CivetHandler {
  public:
    bool handleGet(CivetServer*, struct mg_connection* conn) override {
        mg_printf(conn, "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
        return true;
    }
};

const std::regex kInfoLine("^\\[(Sun|Mon|Tue|Wed|Thu|Fri|Sat) "
                           "(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) "
                           "([1-9]|[12][0-9]|3[01]) ([0-9]|1[0-9]|2[0-3]):([0-9]|[1-5][0-9]):"
                           "([0-9]|[1-5][0-9]) UTC ([0-9]{4})\\] \\[info\\] "
                           "\\[client 127\\.0\\.0\\.1\\] $");

// The message part of an information line; fails the test when the line is
// not laid out as expected. Only the fixed prefix goes through the pattern:
// the library's matcher recurses once per character of a long message.
const std::string kClient = "[client 127.0.0.1] ";

// The line up to and including the client field (the whole line without one).
std::string infoPrefix(const std::string& line) {
    const size_t at = line.find(kClient);
    return at == std::string::npos ? line : line.substr(0, at + kClient.size());
}

std::string messageOf(const std::string& line) {
    const std::string prefix = infoPrefix(line);
    std::smatch m;
    EXPECT_TRUE(std::regex_match(prefix, m, kInfoLine)) << line;
    return m.size() == 8 ? line.substr(prefix.size()) : std::string();
}

std::string requestTrace(const std::string& method, const std::string& url,
                         const std::string& version) {
    return "Request : HTTP Method : " + method + "   Request URL : " + url +
           "  HTTP_version : " + version;
}

const std::string kNullTrace = requestTrace("(null)", "(null)", "(null)");

class Trace : public ::testing::Test {
  protected:
    Trace() : Trace(options()) {}
    explicit Trace(const hostkit::HostOptions& o) : host(o) {}
    static hostkit::HostOptions options() {
        hostkit::HostOptions o;
        o.requestTimeoutMs = 700;
        return o;
    }
    void SetUp() override {
        mg_set_debug_log_type(4);
        host.server().addHandler("/redfish", handler);
    }
    void TearDown() override { mg_set_debug_log_type(0); }

    // Waits until at least `count` information lines are there.
    std::vector<std::string> waitForLines(size_t count, int timeoutMs = 5000) {
        std::vector<std::string> lines;
        ts::waitUntil([&] { return (lines = host.infoLines()).size() >= count; }, timeoutMs);
        return lines;
    }

    hostkit::TestHost host;
    KeepAliveHandler handler;
};

} // namespace

TEST(DebugLogType, OnlyFourAndFiveAreStored) {
    for (int value : {3, 6, -1, 1, 0, 100}) {
        mg_set_debug_log_type(4);
        mg_set_debug_log_type(value);
        EXPECT_EQ(mg_get_debug_log_type(), 0) << value;
    }
    mg_set_debug_log_type(4);
    EXPECT_EQ(mg_get_debug_log_type(), 4);
    mg_set_debug_log_type(5);
    EXPECT_EQ(mg_get_debug_log_type(), 5);
    mg_set_debug_log_type(0);
    EXPECT_EQ(mg_get_debug_log_type(), 0);
}

TEST_F(Trace, GetWithQueryWritesTwoLinesAndAnEmptyLine) {
    const std::string response =
        exchange(host.port(), "GET /redfish/v1/Systems?a=b HTTP/1.1\r\nHost: localhost\r\n"
                              "Connection: close\r\n\r\n");
    EXPECT_EQ(hostkit::statusOf(response), 200);
    const std::vector<std::string> lines = waitForLines(2);
    ASSERT_EQ(lines.size(), 2u) << host.errorLog();
    EXPECT_EQ(messageOf(lines[0]), requestTrace("GET", "/redfish/v1/Systems?a=b", "1.1"));
    EXPECT_EQ(messageOf(lines[1]), "Query string : a=b");
    // The message's own line end leaves an empty line behind the second line.
    const std::string log = host.errorLog();
    EXPECT_NE(log.find("] Query string : a=b\n\n"), std::string::npos) << log;
}

TEST_F(Trace, TheTimeStampIsTheCurrentUtcTime) {
    exchange(host.port(),
             "GET /redfish/v1 HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n");
    const std::vector<std::string> lines = waitForLines(1);
    ASSERT_EQ(lines.size(), 1u);
    std::smatch m;
    const std::string prefix = infoPrefix(lines[0]);
    ASSERT_TRUE(std::regex_match(prefix, m, kInfoLine)) << lines[0];
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    EXPECT_EQ(std::stoi(m[7].str()), utc.tm_year + 1900);
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    EXPECT_EQ(m[2].str(), months[utc.tm_mon]);
    // Within a minute of now (hour and minute as written, unpadded).
    const int logged = std::stoi(m[4].str()) * 60 + std::stoi(m[5].str());
    const int current = utc.tm_hour * 60 + utc.tm_min;
    EXPECT_LE((current - logged + 1440) % 1440, 1);
}

TEST_F(Trace, GetWithoutQueryWritesOneLine) {
    exchange(host.port(),
             "GET /redfish/v1/Systems HTTP/1.0\r\nHost: localhost\r\nConnection: close\r\n\r\n");
    const std::vector<std::string> lines = waitForLines(1);
    ASSERT_EQ(lines.size(), 1u) << host.errorLog();
    EXPECT_EQ(messageOf(lines[0]), requestTrace("GET", "/redfish/v1/Systems", "1.0"));
    // The URL is written as received, not decoded; the query is what follows
    // the first "?".
    exchange(host.port(), "GET /redfish/v1/A%20B?x=1?y=%41 HTTP/1.1\r\nHost: localhost\r\n"
                          "Connection: close\r\n\r\n");
    const std::vector<std::string> more = waitForLines(3);
    ASSERT_EQ(more.size(), 3u);
    EXPECT_EQ(messageOf(more[1]), requestTrace("GET", "/redfish/v1/A%20B?x=1?y=%41", "1.1"));
    EXPECT_EQ(messageOf(more[2]), "Query string : x=1?y=%41");
}

TEST_F(Trace, TheMethodIsTracedAfterTheOverride) {
    exchange(host.port(), "GET /redfish/v1/Systems HTTP/1.1\r\nHost: localhost\r\n"
                          "X-HTTP-Method-Override: DELETE\r\nConnection: close\r\n\r\n");
    const std::vector<std::string> lines = waitForLines(1);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(messageOf(lines[0]), requestTrace("DELETE", "/redfish/v1/Systems", "1.1"));
}

TEST_F(Trace, FailedParsesAreTracedWithNullFields) {
    // A control character before anything is read: nothing was parsed.
    const std::string refused = exchange(host.port(), std::string("\x01junk\r\n\r\n"));
    EXPECT_EQ(hostkit::statusOf(refused), 400) << refused;
    std::vector<std::string> lines = waitForLines(1);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(messageOf(lines[0]), kNullTrace);

    // A method the engine refuses: what was read is shown.
    const std::string unknown =
        exchange(host.port(), "FETCH /redfish/v1?q=1 HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_EQ(hostkit::statusOf(unknown), 400) << unknown;
    lines = waitForLines(3);
    ASSERT_EQ(lines.size(), 3u) << host.errorLog();
    EXPECT_EQ(messageOf(lines[1]), requestTrace("FETCH", "/redfish/v1?q=1", "1.1"));
    EXPECT_EQ(messageOf(lines[2]), "Query string : q=1");

    // No protocol version: the method and URL were read, the version not.
    // Nothing beyond the request line reaches the log.
    exchange(host.port(), "GET /redfish\r\nX-Forged: [info] forged\r\n\r\n");
    lines = waitForLines(4);
    ASSERT_EQ(lines.size(), 4u) << host.errorLog();
    EXPECT_EQ(messageOf(lines[3]), requestTrace("GET", "/redfish", "(null)"));
    EXPECT_EQ(host.errorLog().find("forged"), std::string::npos) << host.errorLog();
}

TEST_F(Trace, ConnectionClosedWithoutRequest) {
    {
        ts::Connection client(host.port());
        ASSERT_TRUE(client.connected());
    }
    const std::vector<std::string> lines = waitForLines(1);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(messageOf(lines[0]), kNullTrace);
}

TEST_F(Trace, ConnectionTimedOutWithoutRequest) {
    ts::Connection client(host.port());
    ASSERT_TRUE(client.connected());
    // Nothing is sent; the engine gives up after its request time-out.
    const std::vector<std::string> lines = waitForLines(1, 5000);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(messageOf(lines[0]), kNullTrace);
    EXPECT_EQ(client.readAll(2000), "") << "the engine answers nothing";
}

TEST_F(Trace, KeptAliveConnectionClosedAfterAResponse) {
    ts::Connection client(host.port());
    ASSERT_TRUE(client.send("GET /redfish/v1 HTTP/1.1\r\nHost: localhost\r\n\r\n"));
    const std::string response = client.readResponse();
    ASSERT_EQ(hostkit::statusOf(response), 200) << response;
    // The connection is still open: a whole request on another connection
    // is traced, and nothing more of the open one.
    exchange(host.port(), "GET /marker HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    std::vector<std::string> lines = waitForLines(2);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(messageOf(lines[1]), requestTrace("GET", "/marker", "1.1"));
    client.close();
    lines = waitForLines(3);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(messageOf(lines[0]), requestTrace("GET", "/redfish/v1", "1.1"));
    EXPECT_EQ(messageOf(lines[2]), kNullTrace);
}

TEST_F(Trace, MessagesAreCutAt8191Characters) {
    const std::string url = "/redfish/v1/" + std::string(9000, 'a');
    exchange(host.port(), "GET " + url + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    const std::vector<std::string> lines = waitForLines(1);
    ASSERT_EQ(lines.size(), 1u);
    const std::string message = messageOf(lines[0]);
    EXPECT_EQ(message.size(), 8191u);
    EXPECT_EQ(message, requestTrace("GET", url, "1.1").substr(0, 8191));
}

TEST_F(Trace, LinesOfParallelRequestsStayWhole) {
    const int kClients = 12;
    std::vector<std::thread> clients;
    for (int i = 0; i < kClients; ++i) {
        clients.emplace_back([this, i] {
            exchange(host.port(), "GET /redfish/v1/Item" + std::to_string(i) +
                                      "?n=" + std::string(300, 'q') +
                                      " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
        });
    }
    for (std::thread& t : clients)
        t.join();
    const std::vector<std::string> lines = waitForLines(2 * kClients);
    ASSERT_EQ(lines.size(), static_cast<size_t>(2 * kClients));
    int requests = 0;
    for (const std::string& line : lines) {
        const std::string message = messageOf(line);
        if (message.rfind("Request : HTTP Method : GET   Request URL : /redfish/v1/Item", 0) == 0)
            ++requests;
        else
            EXPECT_EQ(message, "Query string : n=" + std::string(300, 'q'));
    }
    EXPECT_EQ(requests, kClients);
}

namespace {
// One worker serves connections in the order they came, so an answer on a
// later connection shows the engine is done with every earlier one.
class TraceOneWorker : public Trace {
  protected:
    TraceOneWorker() : Trace(oneWorker()) {}
    static hostkit::HostOptions oneWorker() {
        hostkit::HostOptions o = options();
        o.threads = 1;
        return o;
    }
};
} // namespace

TEST_F(TraceOneWorker, DebugLogTypeZeroWritesNoInformationLine) {
    mg_set_debug_log_type(0);
    exchange(host.port(), "GET /redfish/v1/Systems?a=b HTTP/1.1\r\nHost: x\r\n"
                          "Connection: close\r\n\r\n");
    exchange(host.port(), std::string("\x01junk\r\n\r\n"));
    { ts::Connection client(host.port()); }
    ASSERT_EQ(hostkit::statusOf(exchange(host.port(), "GET /redfish/v1 HTTP/1.1\r\nHost: x\r\n"
                                                      "Connection: close\r\n\r\n")),
              200);
    EXPECT_TRUE(host.infoLines().empty()) << host.errorLog();
    // Type 5 writes them like 4: a marker request shows the log is working.
    mg_set_debug_log_type(5);
    exchange(host.port(), "GET /marker HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    const std::vector<std::string> lines = waitForLines(1);
    ASSERT_EQ(lines.size(), 1u) << host.errorLog();
    EXPECT_EQ(messageOf(lines[0]), requestTrace("GET", "/marker", "1.1"));
}
