// The server routine's start-up, run from a temporary install tree: the
// output-log messages of a normal start and of every fatal failure.
#include <gtest/gtest.h>

#include "hoste2e.h"
#include "testsupport.h"

using namespace hoste2e;

namespace {

TEST(Startup, PlainStartWritesBothMessagesAndServesRedfish) {
    ts::InstallTree tree;
    ts::ServerProcess server(tree, {"run"});
    ASSERT_TRUE(server.waitReady()) << server.output();
    // The handler is registered after the plug-in's initialisation.
    ASSERT_TRUE(
        ts::waitUntil([&] { return tree.capturedLog().find(kLine488) != std::string::npos; }, 5000))
        << tree.capturedLog();

    EXPECT_EQ(tree.outLog(), std::string(kStarting) + startedLine(tree.port, false));
    EXPECT_EQ(tree.capturedLog().find("mainRedfishServer()::[DEBUG]"), std::string::npos);
    EXPECT_EQ(entries(tree), std::vector<std::string>{"initializeAllPlugins"});

    ts::Response r = ts::request(tree.port, "GET", "/redfish");
    EXPECT_EQ(r.status, 200) << r.raw;
    // The banner goes first on the console of a foreground run.
    EXPECT_EQ(server.output().rfind(kBanner, 0), 0u) << server.output();
    EXPECT_TRUE(server.running());
}

TEST(Startup, TlsStartNamesThePortWithItsSuffix) {
    ts::InstallOptions options;
    options.tls = true;
    ts::InstallTree tree(options);
    ts::ServerProcess server(tree, {"run"});
    ASSERT_TRUE(server.waitReady()) << server.output();
    ASSERT_TRUE(ts::waitUntil(
        [&] { return tree.capturedLog().find(kLine488) != std::string::npos; }, 5000));
    EXPECT_EQ(tree.outLog(), std::string("Library initialized with SSL\n") + kStarting +
                                 startedLine(tree.port, true));
    ts::Response r = ts::request(tree.port, "GET", "/redfish", {}, "", true);
    EXPECT_EQ(r.status, 200) << r.raw;
}

TEST(Startup, MissingLogPluginEndsWithExitCodeOneBeforeAnyServer) {
    ts::InstallOptions options;
    options.logPlugin = "";
    ts::InstallTree tree(options);
    ts::ServerProcess server(tree, {"run"});
    EXPECT_EQ(server.waitExit(), 1) << server.output();
    EXPECT_EQ(tree.outLog(), kLogPluginFailed);
    EXPECT_TRUE(tree.calls().empty());
    EXPECT_EQ(ts::exchange(tree.port, "GET /redfish HTTP/1.1\r\n\r\n", false, 500), "");
}

TEST(Startup, UnusableLogPluginEndsWithExitCodeOne) {
    // A library without the Log entry point.
    {
        ts::InstallOptions options;
        options.logPlugin = ts::scriptedPlugin();
        ts::InstallTree tree(options);
        ts::ServerProcess server(tree, {});
        EXPECT_EQ(server.waitExit(), 1) << server.output();
        EXPECT_EQ(tree.outLog(), kLogPluginFailed);
    }
    // A file that is no library.
    {
        ts::InstallOptions options;
        options.logPlugin = "";
        ts::InstallTree tree(options);
        ts::writeFile(tree.serverDir + "Plugins/LogServicePlugin.so", "not a shared library");
        ts::ServerProcess server(tree, {"run"});
        EXPECT_EQ(server.waitExit(), 1) << server.output();
        EXPECT_EQ(tree.outLog(), kLogPluginFailed);
        EXPECT_EQ(tree.capturedLog(), "");
    }
}

// Each web server plug-in failure: the two log lines, exit code 1, and in the
// output log one line naming the plug-in and `problem` instead of a start.
void expectWebServerPluginFailure(const ts::InstallTree& tree, ts::ServerProcess& server,
                                  const std::string& console, const std::string& problem) {
    EXPECT_EQ(server.waitExit(), 1) << server.output();
    const std::string out = tree.outLog();
    const std::string expected =
        "The resource plug-in " + tree.serverDir + "WebServerAbstractionModule.so ";
    ASSERT_EQ(out.rfind(kStarting + expected, 0), 0u) << out;
    EXPECT_NE(out.find(problem, expected.size()), std::string::npos) << out;
    EXPECT_EQ(out.find('\n', sizeof kStarting), out.size() - 1) << out;
    EXPECT_EQ(tree.capturedLog(), std::string(kLine502) + kLine503);
    EXPECT_NE(server.output().find(console), std::string::npos) << server.output();
}

TEST(Startup, MissingWebServerPluginEndsWithTheTwoLogLines) {
    ts::InstallOptions options;
    options.resourcePlugin = "";
    ts::InstallTree tree(options);
    ts::ServerProcess server(tree, {"run"});
    expectWebServerPluginFailure(tree, server, "Failed in initializing Webserver plugin\n",
                                 "is missing");
}

TEST(Startup, UnloadableWebServerPluginEndsWithTheTwoLogLines) {
    ts::InstallOptions options;
    options.resourcePlugin = "";
    ts::InstallTree tree(options);
    ts::writeFile(tree.serverDir + "WebServerAbstractionModule.so", "not a shared library");
    ts::ServerProcess server(tree, {"run"});
    expectWebServerPluginFailure(tree, server, "NULL gHandleForInstanceOfLibrary\n",
                                 "cannot be loaded: ");
}

TEST(Startup, InitialisationFalseEndsWithTheTwoLogLines) {
    ts::InstallTree tree;
    ts::ServerProcess server(tree, {"run"}, {{"SCRIPTED_INIT_RESULT", "false"}});
    expectWebServerPluginFailure(tree, server, kBanner, "could not initialise");
    // Initialised once, never shut down.
    EXPECT_EQ(entries(tree), std::vector<std::string>{"initializeAllPlugins"});
}

TEST(Startup, MissingInitialiseEntryPointCountsAsFailure) {
    ts::InstallOptions options;
    options.resourcePlugin = ts::scriptedPlugin("NoInit");
    ts::InstallTree tree(options);
    ts::ServerProcess server(tree, {});
    expectWebServerPluginFailure(tree, server, "", "has no initializeAllPlugins");
    EXPECT_TRUE(tree.calls().empty());
}

TEST(Startup, UnusableCertificateEndsWithTheReasonAndExitCodeOne) {
    ts::InstallOptions options;
    options.tls = true;
    options.certificate = false;
    ts::InstallTree tree(options);
    // A file that holds no certificate is refused before the server starts.
    ts::writeFile(tree.serverDir + "server.pem", "not a certificate\n");
    ts::ServerProcess server(tree, {"run"});
    EXPECT_EQ(server.waitExit(), 1) << server.output();
    const std::string prefix = "Library initialized with SSL\n";
    const std::string log = tree.outLog();
    ASSERT_EQ(log.rfind(prefix, 0), 0u) << log;
    const std::string reason = log.substr(prefix.size());
    // One line naming the file, and no start.
    EXPECT_NE(reason.find("server.pem"), std::string::npos) << log;
    EXPECT_EQ(reason.find('\n'), reason.size() - 1) << log;
    EXPECT_EQ(log.find("Redfish server started"), std::string::npos);
    EXPECT_TRUE(tree.calls().empty());
    EXPECT_EQ(tree.capturedLog(), "");
}

TEST(Startup, PortInUseEndsWithTheReasonAndExitCodeOne) {
    ts::InstallTree tree;
    const ts::PortHolder holder(tree.port);
    ASSERT_TRUE(holder.held());

    ts::ServerProcess server(tree, {"run"});
    EXPECT_EQ(server.waitExit(), 1) << server.output();
    const std::string log = tree.outLog();
    ASSERT_EQ(log.rfind(kStarting, 0), 0u) << log;
    const std::string reason = log.substr(sizeof(kStarting) - 1);
    ASSERT_GT(reason.size(), 1u) << log;
    EXPECT_EQ(reason.find('\n'), reason.size() - 1) << log;
    EXPECT_EQ(log.find("Redfish server started"), std::string::npos);
    EXPECT_TRUE(tree.calls().empty());
}

// The test harness's side: a port another process takes between its choice
// and the start moves the test's server to another port, with no trace of the
// failed attempt in the output log, instead of failing the test.
TEST(Startup, TestServerMovesOffAPortTakenBeforeItsStart) {
    ts::InstallTree tree;
    const int taken = tree.port;
    const ts::PortHolder holder(taken);
    ASSERT_TRUE(holder.held());
    ts::ServerProcess server(tree);
    EXPECT_TRUE(server.waitReady()) << server.output();
    EXPECT_NE(tree.port, taken);
    EXPECT_EQ(tree.outLog(), std::string(kStarting) + startedLine(tree.port, false));
}

} // namespace
