// The engine's error log of the real program: it rolls over like the trace
// file, and a line about a connection names no earlier request.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <vector>

#include "testsupport.h"

namespace {

// Plain text to the TLS port: the handshake fails and the engine logs it.
void sendPlainTextToTlsPort(int port, int connections) {
    for (int i = 0; i < connections; ++i)
        ts::exchange(port, "GET /redfish/v1 HTTP/1.1\r\nHost: x\r\n\r\n", false, 5000);
}

ts::InstallOptions tlsInstall(const std::string& extraConfig = "") {
    ts::InstallOptions options;
    options.tls = true;
    options.extraConfig = extraConfig;
    return options;
}

} // namespace

TEST(EngineLogE2E, PlainTextFloodOnTheTlsPortRollsTheLogOver) {
    // 20 x 100 bytes per file, two numbered copies.
    ts::InstallTree tree(tlsInstall("\"rollingSize\": 20, \"rollingCount\": 2"));
    ts::ServerProcess server(tree);
    ASSERT_TRUE(server.waitReady()) << server.output();
    sendPlainTextToTlsPort(tree.port, 300);

    const std::string log = tree.logDir + "WebServer.log";
    ASSERT_TRUE(ts::fileExists(log + ".1"));
    EXPECT_TRUE(ts::fileExists(log + ".2"));
    EXPECT_FALSE(ts::fileExists(log + ".3"));
    // Past the size by one line at most: the size is checked before a line.
    for (const std::string& path : {log, log + ".1", log + ".2"})
        EXPECT_LT(std::filesystem::file_size(path), 2000u + 512u) << path;
    EXPECT_TRUE(server.running());
}

TEST(EngineLogE2E, FailedConnectionLinesNameNoEarlierRequest) {
    ts::InstallTree tree(tlsInstall());
    ts::ServerProcess server(tree);
    ASSERT_TRUE(server.waitReady()) << server.output();

    // Every worker serves one request with a marked URI and ends its
    // connection: a worker stays with its connection from the handshake on,
    // so holding as many connections as there are workers reaches them all.
    constexpr int kWorkers = 50;
    std::vector<std::unique_ptr<ts::Connection>> held;
    for (int i = 0; i < kWorkers; ++i) {
        held.push_back(std::make_unique<ts::Connection>(tree.port, true));
        ASSERT_TRUE(held.back()->connected()) << i;
    }
    for (auto& connection : held) {
        ASSERT_TRUE(connection->send("GET /redfish/v1/EarlierRequestMarker?secret=1 HTTP/1.1\r\n"
                                     "Host: x\r\nConnection: close\r\n\r\n"));
        ASSERT_NE(connection->readAll().find("HTTP/1.1 "), std::string::npos);
    }
    held.clear();

    sendPlainTextToTlsPort(tree.port, 2 * kWorkers);
    const std::string log = tree.webServerLog();
    EXPECT_NE(log.find("[error]"), std::string::npos) << log;
    EXPECT_EQ(log.find("EarlierRequestMarker"), std::string::npos) << log;
}
