// The stop control in service mode (SIGTERM, SIGINT) and the default signal
// behaviour of a foreground run.
#include <gtest/gtest.h>

#include <chrono>
#include <future>

#include "hoste2e.h"
#include "testsupport.h"

using namespace hoste2e;

namespace {

using Clock = std::chrono::steady_clock;

int64_t steadyNowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

void startAndWaitForHandler(const ts::InstallTree& tree, ts::ServerProcess& server) {
    ASSERT_TRUE(server.waitReady()) << server.output();
    ASSERT_TRUE(
        ts::waitUntil([&] { return tree.capturedLog().find(kLine488) != std::string::npos; }, 5000))
        << tree.capturedLog();
}

void expectOrderlyStop(int sig) {
    ts::InstallTree tree;
    ts::ServerProcess server(tree, {});
    startAndWaitForHandler(tree, server);

    ASSERT_EQ(::kill(server.pid, sig), 0);
    EXPECT_EQ(server.waitExit(15000), 0) << server.output();

    EXPECT_EQ(tree.outLog(), std::string(kStarting) + startedLine(tree.port, false) + "Exit!\n");
    EXPECT_EQ(entries(tree),
              (std::vector<std::string>{"initializeAllPlugins", "uninitializeAllPlugins"}));
    // Service mode prints no banner.
    EXPECT_EQ(server.output().find(kBanner), std::string::npos) << server.output();
    // Nothing listens any more.
    EXPECT_EQ(ts::exchange(tree.port, "GET /redfish HTTP/1.1\r\n\r\n", false, 500), "");
}

TEST(ServiceStop, SigtermStopsWithExitAndExitCodeZero) {
    expectOrderlyStop(SIGTERM);
}

TEST(ServiceStop, SigintStopsTheSameWay) {
    expectOrderlyStop(SIGINT);
}

TEST(ServiceStop, PluginIsShutDownOnceAfterTheLastRequest) {
    ts::InstallTree tree;
    // A slow plug-in answer for the one GET that needs no session.
    const std::string reply = R"({"HttpStatus":200,"Data":{"slow":true}})";
    tree.setReply("GET", reply, 2500);
    ts::ServerProcess server(tree, {});
    startAndWaitForHandler(tree, server);

    auto inFlight = std::async(std::launch::async, [&] {
        return ts::request(tree.port, "GET", "/redfish/v1/SessionService");
    });
    // Stop while the plug-in is inside the call: the request record is
    // written just before it (the plug-in records the call only when it
    // returns; its start time is checked below).
    ASSERT_TRUE(ts::waitUntil(
        [&] { return tree.traceLog().find("Request Time") != std::string::npos; }, 10000))
        << tree.traceLog();
    const int64_t stopNs = steadyNowNs();
    ASSERT_EQ(::kill(server.pid, SIGTERM), 0);

    ts::Response r = inFlight.get();
    EXPECT_EQ(r.status, 200) << r.raw;
    EXPECT_EQ(r.body, R"({"slow":true})") << r.raw;
    EXPECT_EQ(server.waitExit(10000), 0) << server.output();

    auto calls = tree.calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].value("entry", ""), "initializeAllPlugins");
    EXPECT_EQ(calls[1].value("entry", ""), "GET");
    EXPECT_EQ(calls[2].value("entry", ""), "uninitializeAllPlugins");
    // The GET was under way when the stop came, and the plug-in was shut down
    // only after it had answered.
    EXPECT_LT(calls[1].value("startNs", int64_t(0)), stopNs);
    EXPECT_GE(calls[2].value("startNs", int64_t(0)), calls[1].value("endNs", int64_t(0)));
    EXPECT_EQ(tree.outLog(), std::string(kStarting) + startedLine(tree.port, false) + "Exit!\n");
}

TEST(ServiceStop, WithoutUninitializeEntryPointStillStops) {
    ts::InstallOptions options;
    options.resourcePlugin = ts::scriptedPlugin("NoUninit");
    ts::InstallTree tree(options);
    ts::ServerProcess server(tree, {"anything-else"});
    startAndWaitForHandler(tree, server);
    EXPECT_EQ(server.stop(SIGTERM, 5000), 0) << server.output();
    EXPECT_EQ(tree.outLog(), std::string(kStarting) + startedLine(tree.port, false) + "Exit!\n");
    EXPECT_EQ(entries(tree), std::vector<std::string>{"initializeAllPlugins"});
}

TEST(ServiceStop, ForegroundRunKeepsTheDefaultSignalEffect) {
    ts::InstallTree tree;
    ts::ServerProcess server(tree, {"run"});
    startAndWaitForHandler(tree, server);
    EXPECT_EQ(server.stop(SIGTERM, 5000), 128 + SIGTERM);
    EXPECT_EQ(tree.outLog(), std::string(kStarting) + startedLine(tree.port, false));
    EXPECT_EQ(entries(tree), std::vector<std::string>{"initializeAllPlugins"});
}

} // namespace
