#include <gtest/gtest.h>

#include <unistd.h>

#include <sstream>

#include "testsupport.h"
#include "loadreport.h"
#include "loadrun.h"

using bench::ErrorKind;
using bench::LoadOptions;
using bench::RequestKind;
using ts::CannedServer;

namespace {

const std::string kGood =
    "HTTP/1.1 200 Ok\r\nContent-Type:application/json\r\nConnection: keep-alive\r\n\r\n{}";

bench::Endpoint endpointFor(int port) {
    bench::Endpoint endpoint;
    std::string error;
    EXPECT_TRUE(bench::resolveEndpoint("127.0.0.1", port, endpoint, error)) << error;
    return endpoint;
}

LoadOptions countedRun(int port, int clients, long long requests) {
    LoadOptions options;
    options.port = port;
    options.clients = clients;
    options.requestCount = requests;
    options.timeoutMs = 3000;
    return options;
}

uint64_t errorsOf(const bench::RunResult& run, RequestKind kind, ErrorKind error) {
    return run.kinds[static_cast<int>(kind)].errors[static_cast<int>(error)];
}

} // namespace

TEST(LoadRun, CountsEveryGoodResponseOnceWithItsLatency) {
    CannedServer server([](int, const std::string&) { return kGood; });
    LoadOptions options = countedRun(server.port(), 3, 30);
    auto run = bench::runLoad(options, endpointFor(server.port()), nullptr, "");
    auto figures = bench::computeFigures(run);
    EXPECT_EQ(figures.ok, 30u);
    EXPECT_EQ(figures.errors, 0u);
    EXPECT_EQ(figures.latency.count, 30u);
    EXPECT_GT(figures.latency.maxMs, 0.0);
    EXPECT_GT(figures.requestsPerSecond, 0.0);
    EXPECT_EQ(server.connections(), 30);
    for (const std::string& request : server.requests())
        EXPECT_EQ(request.rfind("GET /redfish/v1 HTTP/1.1\r\n", 0), 0u);
}

TEST(LoadRun, SortsFailuresByKindAndKeepsAnExample) {
    // One client, so connection n gets the n-th request: every third reply
    // is garbage, every third an empty close, the rest good.
    CannedServer server([](int n, const std::string&) {
        if (n % 3 == 1)
            return std::string("garbage without a status line");
        if (n % 3 == 2)
            return std::string();
        return kGood;
    });
    LoadOptions options = countedRun(server.port(), 1, 9);
    auto run = bench::runLoad(options, endpointFor(server.port()), nullptr, "");
    auto figures = bench::computeFigures(run);
    EXPECT_EQ(figures.ok, 3u);
    EXPECT_EQ(errorsOf(run, RequestKind::ServiceRoot, ErrorKind::Malformed), 3u);
    EXPECT_EQ(errorsOf(run, RequestKind::ServiceRoot, ErrorKind::Empty), 3u);
    EXPECT_EQ(figures.errors, 6u);
    EXPECT_NE(run.firstErrorDetail[static_cast<int>(ErrorKind::Malformed)].find("root: "),
              std::string::npos);

    std::ostringstream report;
    bench::printReport(report, options, run, figures);
    EXPECT_NE(report.str().find("malformed 3"), std::string::npos) << report.str();
    EXPECT_NE(report.str().find("empty 3"), std::string::npos) << report.str();
    std::ostringstream line;
    bench::printKeyValue(line, options, run, figures);
    EXPECT_NE(line.str().find(" ok=3 "), std::string::npos) << line.str();
    EXPECT_NE(line.str().find(" err_malformed=3 "), std::string::npos) << line.str();
    EXPECT_NE(line.str().find(" err_empty=3 "), std::string::npos) << line.str();
    EXPECT_NE(line.str().find(" errors=6 "), std::string::npos) << line.str();
}

TEST(LoadRun, MixCyclesKindsByWeightAndChecksEachKindsStatusClass) {
    // PATCH answers 405; expected as 4xx it counts as a success, a GET's 404 does not.
    CannedServer server([](int, const std::string& request) {
        if (request.rfind("PATCH ", 0) == 0)
            return std::string("HTTP/1.1 405 Method Not Allowed\r\n\r\n");
        if (request.rfind("GET /redfish/v1/Systems ", 0) == 0)
            return std::string("HTTP/1.1 404 Not Found\r\n\r\n");
        return kGood;
    });
    LoadOptions options = countedRun(server.port(), 1, 8);
    options.mix = {
        {RequestKind::ServiceRoot, 2}, {RequestKind::Patch, 1}, {RequestKind::PluginGet, 1}};
    options.expectClass[static_cast<int>(RequestKind::Patch)] = 4;
    auto run = bench::runLoad(options, endpointFor(server.port()), nullptr, "tok");
    EXPECT_EQ(run.kinds[static_cast<int>(RequestKind::ServiceRoot)].ok, 4u);
    EXPECT_EQ(run.kinds[static_cast<int>(RequestKind::Patch)].ok, 2u);
    EXPECT_EQ(run.kinds[static_cast<int>(RequestKind::PluginGet)].ok, 0u);
    EXPECT_EQ(errorsOf(run, RequestKind::PluginGet, ErrorKind::Status), 2u);
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 8u);
    EXPECT_EQ(requests[2].rfind("PATCH /redfish/v1/Systems/1 HTTP/1.1\r\n", 0), 0u);
    EXPECT_NE(requests[2].find("X-Auth-Token: tok\r\n"), std::string::npos);
    EXPECT_NE(requests[3].find("X-Auth-Token: tok\r\n"), std::string::npos);
    EXPECT_EQ(requests[0].find("X-Auth-Token"), std::string::npos);
}

TEST(LoadRun, MixSequenceRepeatsKindsByWeight) {
    auto sequence = bench::mixSequence({{RequestKind::Login, 2}, {RequestKind::Upload, 1}});
    std::vector<RequestKind> expected = {RequestKind::Login, RequestKind::Login,
                                         RequestKind::Upload};
    EXPECT_EQ(sequence, expected);
}

TEST(LoadRun, ConnectionsRefusedAreConnectErrors) {
    int port = ts::freePort();
    LoadOptions options = countedRun(port, 2, 10);
    auto run = bench::runLoad(options, endpointFor(port), nullptr, "");
    auto figures = bench::computeFigures(run);
    EXPECT_EQ(figures.ok, 0u);
    EXPECT_EQ(figures.errorsByKind[static_cast<int>(ErrorKind::Connect)], 10u);
    EXPECT_EQ(figures.errors, 10u);
}

TEST(LoadRun, DurationRunStopsOnTimeAndReportsTheServerProcess) {
    CannedServer server([](int, const std::string&) { return kGood; });
    LoadOptions options;
    options.port = server.port();
    options.clients = 2;
    options.durationSeconds = 0.4;
    options.warmupSeconds = 0.1;
    options.serverPid = ::getpid(); // the canned server runs in this process
    auto started = std::chrono::steady_clock::now();
    auto run = bench::runLoad(options, endpointFor(server.port()), nullptr, "");
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    auto figures = bench::computeFigures(run);
    EXPECT_GT(figures.ok, 0u);
    EXPECT_EQ(figures.errors, 0u);
    // The window is a sleep: never shorter; how much later depends on the
    // machine, so only its place inside the call is checked.
    EXPECT_GE(run.elapsedSeconds, 0.4);
    EXPECT_LE(run.elapsedSeconds, seconds);
    // Warm-up requests are not counted.
    EXPECT_LT(figures.ok, static_cast<uint64_t>(server.connections()));
    EXPECT_TRUE(figures.serverKnown);
    EXPECT_GT(figures.peakRssKb, 0);
    EXPECT_GE(figures.cpuMicrosPerRequest, 0.0);
}

TEST(LoadRun, LoginObtainsTheTokenFromTheAnswer) {
    CannedServer server([](int, const std::string&) {
        return std::string("HTTP/1.1 201 Created\r\nLocation: /s/1\r\nX-Auth-Token: "
                           "abc\r\n\r\n{}");
    });
    LoadOptions options = countedRun(server.port(), 1, 1);
    options.password = "pw";
    auto outcome = bench::obtainToken(options, endpointFor(server.port()), nullptr);
    EXPECT_TRUE(outcome.ok) << outcome.detail;
    EXPECT_EQ(outcome.token, "abc");
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_NE(server.requests()[0].find("{\"UserName\":\"admin\",\"Password\":\"pw\"}"),
              std::string::npos);
}

TEST(LoadRun, RefusedLoginIsReportedNotTakenForAToken) {
    CannedServer server([](int, const std::string&) {
        return std::string("HTTP/1.1 401 Unauthorized\r\n\r\nUnauthorized user");
    });
    LoadOptions options = countedRun(server.port(), 1, 1);
    auto outcome = bench::obtainToken(options, endpointFor(server.port()), nullptr);
    EXPECT_FALSE(outcome.ok);
    EXPECT_NE(outcome.detail.find("401"), std::string::npos) << outcome.detail;
}
