// A stop asked for during start-up, before the request handler is registered:
// the start finishes, then the server stops in order.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

#include "testsupport.h"

namespace {

bool waitFor(const std::function<bool()>& done) {
    for (int i = 0; i < 1500 && !done(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return done();
}

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
         [](const ts::InstallTree& t) { return contains(t.outLog(), "Redfish server started"); }},
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
        ASSERT_TRUE(waitFor([&] { return c.reached(tree) || !server.running(); }));
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

} // namespace
