// The configuration as the running program reads it.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "testsupport.h"

namespace {

bool waitFor(const std::function<bool()>& done, int timeoutMs) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
        if (done())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return done();
}

} // namespace

TEST(ConfigE2E, SettingsPastTheFirst2024BytesCountTlsIncluded) {
    ts::InstallOptions options;
    options.tls = true;
    ts::InstallTree tree(options);
    tree.writeConfig("{\n  \"Comment\": \"" + std::string(3000, 'c') +
                     "\",\n"
                     "  \"CommunicationProtocolHttps\": true,\n"
                     "  \"CommunicationPortHttps\": " +
                     std::to_string(tree.port) +
                     ",\n"
                     "  \"SessionTimeout\": 30000\n}\n");
    ts::ServerProcess server(tree);
    ASSERT_TRUE(server.waitReady()) << server.output();
    ts::Response r = ts::request(tree.port, "GET", "/redfish", {}, "", true);
    EXPECT_EQ(r.status, 200) << r.raw;
    EXPECT_EQ(r.body, "{\"v1\":\"/redfish/v1/\"}");
    EXPECT_NE(tree.outLog().find("Library initialized with SSL\n"), std::string::npos)
        << tree.outLog();
    EXPECT_EQ(tree.outLog().find("failed to parse"), std::string::npos) << tree.outLog();
}

TEST(ConfigE2E, SessionTimeoutZeroStillAnswersEveryRequest) {
    ts::InstallTree tree;
    tree.writeConfig("{\"CommunicationProtocolHttp\": true, \"CommunicationPortHttp\": " +
                     std::to_string(tree.port) + ", \"SessionTimeout\": 0}");
    ts::ServerProcess server(tree);
    ASSERT_TRUE(server.waitReady()) << server.output();
    for (int i = 0; i < 5; ++i) {
        ts::Response r = ts::request(tree.port, "GET", "/redfish", {}, "", false);
        EXPECT_TRUE(r.complete) << "request " << i << ": " << r.raw;
    }
}

TEST(ConfigE2E, InvalidFileIsReportedInTheOutputLog) {
    ts::InstallTree tree;
    tree.writeConfig("{\"CommunicationPortHttp\": " + std::to_string(tree.port) + ",}");
    ts::ServerProcess server(tree);
    const std::string message = "failed to parse the config file ..............\n";
    EXPECT_TRUE(waitFor([&] { return tree.outLog().find(message) != std::string::npos; }, 15000))
        << tree.outLog();
    // Reported once; the start went on with every setting at 0.
    std::string out = tree.outLog();
    EXPECT_EQ(out.find(message), out.rfind(message));
    EXPECT_EQ(out.find("Library initialized with SSL"), std::string::npos);
}
