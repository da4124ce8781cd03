// Faults during start-up: a stop asked for before the request handler is
// registered, and a TLS library that cannot initialise.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

#include <unistd.h>

#include "testsupport.h"

namespace {

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST(StartupStop, SigtermBeforeTheHandlerIsRegisteredStopsInOrder) {
    struct Case {
        const char* moment;
        std::function<bool(const ts::InstallTree&)> reached;
    };
    const Case cases[] = {
        {"the HTTP server listens",
         [](const ts::InstallTree& t) { return ts::Connection(t.port).connected(); }},
        {"the plug-in initialises",
         [](const ts::InstallTree& t) {
             return contains(ts::readFile(t.scriptDir + "events"), "init-start\n");
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.moment);
        ts::InstallOptions options;
        options.resourcePlugin = TOLVANE_HOLD_INIT_PLUGIN;
        ts::InstallTree tree(options);
        ts::ServerProcess server(tree, {}); // service mode: SIGTERM is the stop control
        ASSERT_TRUE(ts::waitUntil([&] { return c.reached(tree) || !server.running(); }));
        ASSERT_TRUE(server.running()) << server.output();
        ASSERT_EQ(::kill(server.pid, SIGTERM), 0);
        ts::writeFile(tree.scriptDir + "release", "");
        EXPECT_EQ(server.waitExit(), 0) << server.output();
        const std::string out = tree.outLog();
        EXPECT_TRUE(out.size() >= 6 && out.compare(out.size() - 6, 6, "Exit!\n") == 0) << out;
        // Initialised once, shut down once, and no request reached it.
        EXPECT_EQ(ts::readFile(tree.scriptDir + "events"), "init-start\ninit-end\nuninit\n");
    }
}

TEST(StartupFault, TlsLibraryThatCannotInitialiseEndsTheStart) {
    // OpenSSL's own configuration asks for a provider that does not exist and
    // for its errors to count: the library then has no ciphers.
    ts::InstallOptions options;
    options.tls = true;
    ts::InstallTree tree(options);
    const std::string conf = tree.root + "openssl.cnf";
    ts::writeFile(conf, "config_diagnostics = 1\nopenssl_conf = init\n[init]\nproviders = p\n"
                        "[p]\nmissing = m\n[m]\nactivate = 1\n");
    ts::ServerProcess server(tree, {"run"}, {{"OPENSSL_CONF", conf}});
    const int code = server.waitExit();
    EXPECT_NE(code, 0) << server.output();
    EXPECT_NE(code, -1) << "the start did not end";
    EXPECT_LT(code, 128) << "ended by a signal, not by the program";
    // The engine's start-up takes no notice; the first TLS context fails.
    EXPECT_TRUE(contains(tree.outLog(), "Error initializing SSL context")) << tree.outLog();
    EXPECT_FALSE(contains(tree.outLog(), "Redfish server started")) << tree.outLog();
    EXPECT_EQ(ts::exchange(tree.port, "GET /redfish HTTP/1.1\r\n\r\n", true, 500), "");
}

} // namespace
