#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "civetweb.h"
#include "redfishserver/httpoptions.h"
#include "redfishserver/installpaths.h"
#include "redfishserver/serverconfig.h"
#include "scratchdir.h"

namespace {

using Options = std::vector<std::string>;

class HttpOptions : public ::testing::Test {
  protected:
    void SetUp() override {
        std::strcpy(gInstallPath, "/opt/tolvane/");
        std::strcpy(gLogDirectory, dir.path().c_str());
        composeOutLogPath();
        ServerConfig = ServerConfiguration();
        gServerOptions = {"stale", "entries"};
    }
    void TearDown() override {
        while (initCalls-- > 0)
            mg_exit_library();
        ServerConfig = ServerConfiguration();
        gInstallPath[0] = gLogDirectory[0] = gOutLogPath[0] = '\0';
    }
    bool init() {
        ++initCalls;
        return initHttpLibrary();
    }
    std::string outLog() { return readText(dir.path() + "RedfishServer.out.log"); }
    std::string errorLog() { return dir.path() + "/WebServer.log"; }

    ScratchDir dir;
    int initCalls = 0;
};

} // namespace

TEST_F(HttpOptions, TlsModeList) {
    ServerConfig.CommunicationProtocolHttps = true;
    ServerConfig.CommunicationPortHttps = 8443;
    ServerConfig.CommunicationPortHttp = 8080;
    ServerConfig.SessionTimeout = 30000;
    ASSERT_TRUE(init());
    Options expected = {"listening_ports",
                        "8443s",
                        "request_timeout_ms",
                        "30000",
                        "error_log_file",
                        errorLog(),
                        "ssl_certificate",
                        "/opt/tolvane/RedfishServer/server.pem",
                        "ssl_protocol_version",
                        "3",
                        "ssl_cipher_list",
                        "ECDH+AESGCM+AES256:!aNULL:!MD5:!DSS",
                        "enable_auth_domain_check",
                        "no",
                        "strict_transport_security_max_age",
                        "15552000",
                        "num_threads",
                        "50",
                        "max_connections_per_client",
                        "16",
                        "request_head_timeout_ms",
                        "5000",
                        "max_unauthenticated_connections",
                        "16",
                        "max_unauthenticated_body_bytes",
                        "4096"};
    EXPECT_EQ(gServerOptions, expected);
    EXPECT_STREQ(gListeningPortText, "8443s");
    EXPECT_EQ(outLog(), "Library initialized with SSL\n");
}

TEST_F(HttpOptions, PlainModeList) {
    ServerConfig.CommunicationProtocolHttps = false;
    ServerConfig.CommunicationProtocolHttp = true;
    ServerConfig.CommunicationPortHttps = 8443;
    ServerConfig.CommunicationPortHttp = 8080;
    ServerConfig.SessionTimeout = 5000;
    ASSERT_TRUE(init());
    Options expected = {"listening_ports",
                        "8080",
                        "request_timeout_ms",
                        "5000",
                        "error_log_file",
                        errorLog(),
                        "enable_auth_domain_check",
                        "no",
                        "strict_transport_security_max_age",
                        "15552000",
                        "num_threads",
                        "50",
                        "max_connections_per_client",
                        "16",
                        "request_head_timeout_ms",
                        "5000",
                        "max_unauthenticated_connections",
                        "16",
                        "max_unauthenticated_body_bytes",
                        "4096"};
    EXPECT_EQ(gServerOptions, expected);
    EXPECT_STREQ(gListeningPortText, "8080");
    EXPECT_EQ(outLog(), "");
}

TEST_F(HttpOptions, PlainPortEvenWhenNeitherProtocolIsOn) {
    ServerConfig.CommunicationPortHttps = 8443;
    ServerConfig.CommunicationPortHttp = 8081;
    ServerConfig.SessionTimeout = 100;
    ASSERT_TRUE(init());
    ASSERT_GE(gServerOptions.size(), 2u);
    EXPECT_EQ(gServerOptions[1], "8081");
    for (const std::string& entry : gServerOptions)
        EXPECT_EQ(entry.find("ssl_"), std::string::npos) << entry;
}

TEST_F(HttpOptions, NoConfigurationGivesPortZeroAndNoTimeout) {
    ASSERT_TRUE(init());
    Options expected = {"listening_ports",
                        "0",
                        "error_log_file",
                        errorLog(),
                        "enable_auth_domain_check",
                        "no",
                        "strict_transport_security_max_age",
                        "15552000",
                        "num_threads",
                        "50",
                        "max_connections_per_client",
                        "16",
                        "request_head_timeout_ms",
                        "5000",
                        "max_unauthenticated_connections",
                        "16",
                        "max_unauthenticated_body_bytes",
                        "4096"};
    EXPECT_EQ(gServerOptions, expected);
    EXPECT_STREQ(gListeningPortText, "0");
}

TEST_F(HttpOptions, NegativeValues) {
    ServerConfig.CommunicationProtocolHttps = true;
    ServerConfig.CommunicationPortHttps = -5;
    ServerConfig.SessionTimeout = -1;
    ASSERT_TRUE(init());
    ASSERT_GE(gServerOptions.size(), 4u);
    EXPECT_EQ(gServerOptions[0], "listening_ports");
    EXPECT_EQ(gServerOptions[1], "-5s");
    EXPECT_STREQ(gListeningPortText, "-5s");
    // A time-out of 0 or less is left to the library's default.
    EXPECT_EQ(gServerOptions[2], "error_log_file");
    for (const std::string& entry : gServerOptions)
        EXPECT_NE(entry, "request_timeout_ms");
}

TEST_F(HttpOptions, WidestPortText) {
    ServerConfig.CommunicationProtocolHttps = true;
    ServerConfig.CommunicationPortHttps = INT32_MIN;
    ASSERT_TRUE(init());
    EXPECT_STREQ(gListeningPortText, "-2147483648s");
    EXPECT_EQ(gServerOptions[1], "-2147483648s");
}

TEST_F(HttpOptions, EmptyLogDirectoryKeepsTheDoubledSeparator) {
    gLogDirectory[0] = '\0';
    ASSERT_TRUE(init());
    ASSERT_GE(gServerOptions.size(), 4u);
    EXPECT_EQ(gServerOptions[2], "error_log_file");
    EXPECT_EQ(gServerOptions[3], "/WebServer.log");
}

TEST_F(HttpOptions, BuildComposesTheConfiguredOptionsAndKeepsOthers) {
    ServerConfig.CommunicationPortHttp = 81;
    ServerConfig.SessionTimeout = 250;
    ServerConfig.NumberOfWorkerThreads = 7;
    const char* table[] = {"num_threads",
                           "ignored",
                           "listening_ports",
                           "ignored",
                           "custom",
                           "value",
                           "request_timeout_ms",
                           "ignored",
                           "ssl_certificate",
                           "ignored",
                           "error_log_file",
                           "ignored",
                           ""};
    EXPECT_TRUE(buildServerOptions(table, 12));
    Options expected = {"num_threads",
                        "7",
                        "listening_ports",
                        "81",
                        "custom",
                        "value",
                        "request_timeout_ms",
                        "250",
                        "ssl_certificate",
                        "/opt/tolvane/RedfishServer/server.pem",
                        "error_log_file",
                        errorLog()};
    // The configured options a table lacks follow it.
    const Options limits = {
        "max_connections_per_client",      "16", "request_head_timeout_ms",        "5000",
        "max_unauthenticated_connections", "16", "max_unauthenticated_body_bytes", "4096"};
    expected.insert(expected.end(), limits.begin(), limits.end());
    EXPECT_EQ(gServerOptions, expected);

    // Building again starts from an empty list.
    EXPECT_TRUE(buildServerOptions(table, 2));
    expected = {"num_threads", "7"};
    expected.insert(expected.end(), limits.begin(), limits.end());
    EXPECT_EQ(gServerOptions, expected);
}

TEST_F(HttpOptions, LibraryReportsTls) {
    // Our build links OpenSSL directly, so TLS must be there.
    ++initCalls;
    EXPECT_EQ(mg_init_library(2) & 2u, 2u);
}

// Only the standard profile listens on IPv6 as well; an unknown profile name
// falls back to the classic answer, never to something in between.
TEST_F(HttpOptions, OnlyTheStandardProfileListensOnIpv6Too) {
    struct Row {
        const char* profile;
        const char* ports;
    };
    for (const Row& row : {Row{"", "8443s"}, Row{"Classic", "8443s"}, Row{"Standrad", "8443s"},
                           Row{"Standard", "+8443s"}, Row{"standard", "+8443s"}}) {
        SCOPED_TRACE(row.profile);
        ServerConfig.CommunicationProtocolHttps = true;
        ServerConfig.CommunicationPortHttps = 8443;
        ServerConfig.RedfishProtocolProfile = row.profile;
        ASSERT_TRUE(init());
        ASSERT_GE(gServerOptions.size(), 2u);
        EXPECT_EQ(gServerOptions[1], row.ports);
        EXPECT_STREQ(gListeningPortText, "8443s"); // the start-up line names the port alone
    }
}
