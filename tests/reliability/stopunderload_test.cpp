// A stop (SIGTERM in service mode) while clients keep the plug-in busy: every
// client gets a whole answer or a connection that ends without a byte, the
// process ends with 0 after writing "Exit!", and the plug-in is shut down
// once, after its last command call has returned.
#include <iostream>

#include <gtest/gtest.h>

#include "reliability.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kStopClients = 16;
constexpr int kPluginDelayMs = 100;
using rel::kToken;

int64_t steadyNowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

std::string replyFor(const std::string& method) {
    // Large enough that a body cut short would show.
    nlohmann::ordered_json reply{{"HttpStatus", 200},
                                 {"Data", {{"method", method}, {"pad", std::string(3000, 'p')}}}};
    return reply.dump();
}

std::string expectedBody(const std::string& method) {
    return nlohmann::ordered_json{{"method", method}, {"pad", std::string(3000, 'p')}}.dump();
}

struct Tally {
    std::atomic<int> whole{0};
    std::atomic<int> engineAnswers{0};
    std::atomic<int> empty{0};
    rel::Failures failures;
};

} // namespace

TEST(StopUnderLoad, RequestsInFlightFinishAndThePluginStopsOnce) {
    ts::InstallTree tree;
    tree.setReply("POST /redfish/v1/SessionService/Sessions",
                  rel::scriptedLoginReply(kToken, "/redfish/v1/SessionService/Sessions/1"));
    for (const char* method : {"GET", "PATCH", "POST", "DELETE"})
        tree.setReply(method, replyFor(method), kPluginDelayMs);
    ts::ServerProcess server(tree, {}); // service mode: SIGTERM is the stop control
    ASSERT_TRUE(server.waitReady()) << server.output();
    ASSERT_EQ(ts::request(tree.port, "POST", "/redfish/v1/SessionService/Sessions",
                          {"Content-Type: application/json"}, "{}")
                  .status,
              201);

    Tally tally;
    std::atomic<bool> exited{false};
    const auto begun = Clock::now();
    std::vector<std::thread> clients;
    for (int i = 0; i < kStopClients; ++i) {
        clients.emplace_back([&, i] {
            static const char* const kMethods[] = {"GET", "PATCH", "POST", "DELETE"};
            for (int n = 0; !exited.load() && rel::millisSince(begun) < 30000; ++n) {
                const std::string method = kMethods[(i + n) % 4];
                const std::string uri = "/redfish/v1/Systems/" + std::to_string(i);
                const std::string body = method == "GET" || method == "DELETE"
                                             ? ""
                                             : "{\"n\":" + std::to_string(n) + "}";
                rel::Exchange ex = rel::roundTrip(
                    tree.port,
                    rel::requestText(tree.port, method, uri,
                                     {"X-Auth-Token: " + kToken, "Content-Type: application/json"},
                                     body),
                    20000);
                if (!ex.connected) {
                    ++tally.empty;
                    return; // nothing listens any more
                }
                if (ex.raw.empty()) {
                    ++tally.empty;
                    continue;
                }
                const std::string wrong = rel::malformation(ex.raw);
                const int status = rel::statusOf(ex.raw);
                if (!wrong.empty()) {
                    tally.failures.add(method + " " + uri + ": partial answer (" + wrong +
                                       "): " + ex.raw.substr(0, 200));
                } else if (status == 200) {
                    if (ts::parseResponse(ex.raw).body == expectedBody(method))
                        ++tally.whole;
                    else
                        tally.failures.add(method + " " + uri +
                                           ": body cut or changed: " + ex.raw.substr(0, 200));
                } else if (status == 404 || status == 405 || status == 503) {
                    // The engine's own answer once the handler is gone.
                    ++tally.engineAnswers;
                } else {
                    tally.failures.add(method + " " + uri + ": status " + std::to_string(status) +
                                       ": " + ex.raw.substr(0, 200));
                }
            }
        });
    }
    // Stop once the load reaches the plug-in: it has answered as many calls
    // as there are clients, one at a time, so the others' calls are queued
    // behind the one under way.
    ASSERT_TRUE(ts::waitUntil([&] { return tree.calls().size() >= 2 + kStopClients; }, 30000))
        << "the clients' calls never reached the plug-in";
    const int64_t stopNs = steadyNowNs();
    ASSERT_EQ(::kill(server.pid, SIGTERM), 0);
    const int exitCode = server.waitExit(30000);
    exited = true;
    for (auto& t : clients)
        t.join();

    EXPECT_EQ(exitCode, 0) << server.output();
    EXPECT_EQ(tally.failures.count(), 0u) << tally.failures.summary();
    EXPECT_GT(tally.whole.load(), 0);
    std::cout << "stop under load: " << tally.whole.load() << " whole answers, "
              << tally.engineAnswers.load() << " engine answers, " << tally.empty.load()
              << " connections without a byte\n";
    const std::string outLog = tree.outLog();
    EXPECT_NE(outLog.find("Exit!\n"), std::string::npos) << outLog;

    // The plug-in: busy when the stop came, shut down once, after its last call.
    int uninitCount = 0;
    int64_t uninitNs = 0;
    int64_t lastCallEndNs = 0;
    bool busyAtStop = false;
    for (auto& call : tree.calls()) {
        const std::string entry = call.value("entry", "");
        if (entry == "uninitializeAllPlugins") {
            ++uninitCount;
            uninitNs = call.value("startNs", int64_t{0});
        } else if (entry != "initializeAllPlugins") {
            const int64_t start = call.value("startNs", int64_t{0});
            const int64_t end = call.value("endNs", int64_t{0});
            lastCallEndNs = std::max(lastCallEndNs, end);
            busyAtStop = busyAtStop || (start <= stopNs && stopNs <= end);
        }
    }
    EXPECT_EQ(uninitCount, 1);
    EXPECT_GE(uninitNs, lastCallEndNs) << "a command call ended after the plug-in was shut down";
    EXPECT_TRUE(busyAtStop) << "no plug-in call was in flight when the stop came";
}
