// The configuration as the running program reads it.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "testsupport.h"

// The standard profile is reachable over IPv6 and IPv4 alike; the classic
// profile stays on IPv4 as it always was.
TEST(ConfigE2E, StandardProfileAnswersOverIpv6AndIpv4) {
    for (const char* profile : {"Standard", "Classic"}) {
        SCOPED_TRACE(profile);
        ts::InstallOptions options;
        options.extraConfig = std::string("\"RedfishProtocolProfile\": \"") + profile + "\"";
        ts::InstallTree tree(options);
        ts::ServerProcess server(tree);
        ASSERT_TRUE(server.waitReady()) << server.output();
        EXPECT_EQ(ts::request(tree.port, "GET", "/redfish").status, 200);
        ts::ConnectOptions ipv6;
        ipv6.address = "::1";
        const std::string raw = ts::exchange(
            tree.port, "GET /redfish HTTP/1.1\r\nHost: [::1]\r\nConnection: close\r\n\r\n", ipv6);
        if (std::string(profile) == "Standard")
            EXPECT_EQ(ts::parseResponse(raw).status, 200) << raw;
        else
            EXPECT_EQ(raw, "");
    }
}

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
    EXPECT_TRUE(
        ts::waitUntil([&] { return tree.outLog().find(message) != std::string::npos; }, 15000))
        << tree.outLog();
    // Reported once, and the start ends: it would listen on a port nobody chose.
    EXPECT_EQ(server.waitExit(), 1);
    std::string out = tree.outLog();
    EXPECT_EQ(out.find(message), out.rfind(message));
    EXPECT_NE(out.find("ServerConfiguration.json cannot be used"), std::string::npos) << out;
    EXPECT_EQ(out.find("Redfish server started"), std::string::npos) << out;

    // An output log that cannot be written does not swallow the reason.
    ts::InstallTree blocked;
    blocked.writeConfig("{");
    ts::removeTree(blocked.logDir + "RedfishServer.out.log");
    std::filesystem::create_directories(blocked.logDir + "RedfishServer.out.log");
    ts::ServerProcess again(blocked);
    EXPECT_EQ(again.waitExit(), 1);
    EXPECT_NE(again.output().find("ServerConfiguration.json cannot be used"), std::string::npos)
        << again.output();
}

// What the engine does with the options the program gives it, when the
// configuration sets no limit of its own.
TEST(ConfigE2E, EngineOptionsTakeEffectWithTheirDefaults) {
    ts::InstallTree tree;
    tree.writeConfig("{\"CommunicationProtocolHttp\": true, \"CommunicationPortHttp\": " +
                     std::to_string(tree.port) +
                     ", \"SessionTimeout\": 30000, \"MaximumUnauthenticatedConnections\": 256}");
    ts::ServerProcess server(tree);
    ASSERT_TRUE(server.waitReady()) << server.output();

    // One address holds 16 connections at most; the next is closed unanswered.
    std::vector<std::unique_ptr<ts::Connection>> held;
    for (int i = 0; i < 16; ++i)
        held.push_back(std::make_unique<ts::Connection>(tree.port, ts::fromAddress()));
    ts::Connection excess(tree.port, ts::fromAddress());
    EXPECT_EQ(excess.readAtLeast(1, 5000), "");
    EXPECT_EQ(excess.end(), ts::Connection::End::Closed) << "a 17th connection was kept";
    held.clear();

    // A connection that sends no request head is closed after the head
    // deadline (5 s), well before the request time-out (SessionTimeout).
    ts::Connection silent(tree.port);
    EXPECT_EQ(silent.readAtLeast(1, 20000), "");
    EXPECT_EQ(silent.end(), ts::Connection::End::Closed) << "a silent connection was kept";

    // A request without credentials may carry a body of 4096 bytes, no more.
    for (size_t size : {4096u, 4097u}) {
        const ts::Response r =
            ts::request(tree.port, "POST", "/redfish/v1/SessionService/Sessions",
                        {"Content-Type: application/json"},
                        "{\"UserName\":\"" + std::string(size - 15, 'u') + "\"}");
        EXPECT_EQ(r.status == 413, size > 4096) << size << ": " << r.raw;
    }

    // A request in absolute form is served whatever host it names, and the
    // engine's own answers carry the HSTS header.
    const std::string absolute = ts::exchange(
        tree.port, "GET http://tolvane.example:" + std::to_string(tree.port) +
                       "/redfish HTTP/1.1\r\nHost: tolvane.example\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(ts::parseResponse(absolute).body, "{\"v1\":\"/redfish/v1/\"}") << absolute;
    const ts::Response engine = ts::parseResponse(ts::exchange(tree.port, "GARBAGE\r\n\r\n"));
    EXPECT_EQ(engine.header("Strict-Transport-Security"), "max-age=15552000") << engine.raw;
}
