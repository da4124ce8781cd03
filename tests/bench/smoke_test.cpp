// Runs the load tool for about two seconds against the reference server, over
// HTTP and over TLS, with every request kind. Checks correctness only: every
// response well-formed and as expected; nothing here is timed.
#include <gtest/gtest.h>

#include <csignal>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "exchange.h"
#include "servicerootdocument.h"
#include "testsupport.h"

namespace {

// The reference server as a child process, killed at the end.
struct ReferenceServer {
    explicit ReferenceServer(bool tls) {
        for (int attempt = 0; attempt < 3 && !process; ++attempt) {
            port = ts::freePort();
            std::vector<std::string> args = {TOLVANE_REFERENCE_SERVER, "--port",
                                             std::to_string(port)};
            if (tls)
                args.insert(args.end(), {"--tls", "--cert", BENCH_TEST_CERT});
            auto child = std::make_unique<ts::Process>(args);
            // An early end means the port was taken meanwhile.
            ts::waitUntil([&] { return ts::Connection(port).connected() || !child->running(); },
                          10000);
            if (child->running() && ts::Connection(port).connected())
                process = std::move(child);
        }
    }
    std::unique_ptr<ts::Process> process;
    int port = 0;
};

std::map<std::string, std::string> resultLine(const std::string& output) {
    std::map<std::string, std::string> fields;
    size_t at = output.find("RESULT ");
    if (at == std::string::npos)
        return fields;
    std::istringstream in(output.substr(at + 7, output.find('\n', at) - at - 7));
    std::string item;
    while (in >> item) {
        size_t eq = item.find('=');
        if (eq != std::string::npos)
            fields[item.substr(0, eq)] = item.substr(eq + 1);
    }
    return fields;
}

void expectCleanRun(bool tls) {
    ReferenceServer server(tls);
    ASSERT_TRUE(server.process) << "the reference server did not start";
    std::vector<std::string> args = {TOLVANE_LOAD_TOOL,
                                     "--port",
                                     std::to_string(server.port),
                                     "--clients",
                                     "8",
                                     "--duration",
                                     "2",
                                     "--mix",
                                     "root=2,get,login,patch,upload",
                                     "--password",
                                     "secret",
                                     "--server-pid",
                                     std::to_string(server.process->pid),
                                     "--kv"};
    if (tls)
        args.push_back("--tls");
    const auto [code, output] = ts::runToEnd(args);
    EXPECT_EQ(code, 0) << output;
    auto result = resultLine(output);
    ASSERT_FALSE(result.empty()) << output;
    EXPECT_EQ(result["err_malformed"], "0") << output;
    EXPECT_EQ(result["errors"], "0") << output;
    EXPECT_GT(std::stol(result["ok"]), 0) << output;
    EXPECT_EQ(result["tls"], tls ? "1" : "0");
    // Full handshakes only, one per request, unless resumption is asked for.
    if (tls) {
        EXPECT_GE(std::stol(result["handshakes"]), std::stol(result["ok"]));
    }
    EXPECT_EQ(result["resumed"], "0");
    EXPECT_GT(std::stol(result["rss_peak_kb"]), 0) << output;
    EXPECT_NE(result["cpu_us_per_req"], "-") << output;
    for (const char* kind : {"root", "get", "login", "patch", "upload"})
        EXPECT_NE(output.find(std::string("  ") + kind + " "), std::string::npos) << kind;
    EXPECT_EQ(server.process->stop(SIGTERM, 10000), 0);
}

} // namespace

TEST(LoadToolSmoke, EveryKindOverHttpAgainstTheReferenceServer) {
    expectCleanRun(false);
}

TEST(LoadToolSmoke, EveryKindOverTlsWithFullHandshakes) {
    expectCleanRun(true);
}

TEST(LoadToolSmoke, ReferenceServerAnswersTheFixedHeaderAndServiceRoot) {
    ReferenceServer server(false);
    ASSERT_TRUE(server.process);
    // Byte for byte what the Redfish server answers for its service root, for
    // any URI under /redfish and any method.
    bench::Endpoint endpoint;
    std::string error;
    ASSERT_TRUE(bench::resolveEndpoint("127.0.0.1", server.port, endpoint, error));
    bench::Exchanger exchanger(endpoint, nullptr, 5000);
    const std::string expected = bench::kFixedHeaderBlock + bench::serviceRootBody();
    for (const char* request : {"GET /redfish/v1 HTTP/1.1\r\nHost: x\r\n\r\n",
                                "POST /redfish/v1/SessionService/Sessions HTTP/1.1\r\nHost: x\r\n"
                                "Content-Length: 2\r\n\r\n{}"}) {
        std::string response;
        auto result = exchanger.exchange(request, response);
        EXPECT_EQ(result.error, bench::ErrorKind::None) << result.detail;
        EXPECT_EQ(response, expected);
    }
    // A request count instead of a duration; all answers checked as 2xx.
    const auto [code, output] =
        ts::runToEnd({TOLVANE_LOAD_TOOL, "--port", std::to_string(server.port), "--requests", "50",
                      "--clients", "4", "--kv"});
    EXPECT_EQ(code, 0) << output;
    EXPECT_EQ(resultLine(output)["ok"], "50") << output;
    EXPECT_EQ(server.process->stop(SIGTERM, 10000), 0);
}

TEST(LoadToolSmoke, NothingListeningGivesConnectErrorsAndExitStatusOne) {
    const auto [code, output] =
        ts::runToEnd({TOLVANE_LOAD_TOOL, "--port", std::to_string(ts::freePort()), "--requests",
                      "5", "--clients", "1", "--kv"});
    EXPECT_EQ(code, 1) << output;
    auto result = resultLine(output);
    EXPECT_EQ(result["err_connect"], "5") << output;
    EXPECT_EQ(result["ok"], "0");
}

TEST(LoadToolSmoke, UsageErrorsExitWithTwoAndSayWhy) {
    const struct {
        std::vector<std::string> args;
        int code;
        const char* says;
    } cases[] = {{{TOLVANE_LOAD_TOOL, "--clients", "2"}, 2, "--port is required"},
                 {{TOLVANE_LOAD_TOOL, "--help"}, 0, "usage: tolvaneload"},
                 {{TOLVANE_REFERENCE_SERVER, "--tls", "--port", "1"}, 2, "--tls needs --cert"}};
    for (const auto& c : cases) {
        const auto [code, output] = ts::runToEnd(c.args);
        EXPECT_EQ(code, c.code) << c.args[1];
        EXPECT_NE(output.find(c.says), std::string::npos) << output;
    }
}
