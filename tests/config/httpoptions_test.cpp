#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "civetweb.h"
#include "redfishserver/httpoptions.h"
#include "redfishserver/installpaths.h"
#include "redfishserver/serverconfig.h"
#include "testsupport.h"

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
    std::string errorLog() { return dir.path() + "/WebServer.log"; }
    // The value the list gives `name`; "(none)" when it lacks the option.
    static std::string option(const std::string& name) {
        for (size_t i = 0; i + 1 < gServerOptions.size(); i += 2)
            if (gServerOptions[i] == name)
                return gServerOptions[i + 1];
        return "(none)";
    }

    ts::TempDir dir;
    int initCalls = 0;
};

} // namespace

// Plain HTTP on its port, with no TLS option, also when neither protocol is on.
TEST_F(HttpOptions, PlainPortWithoutTlsOptions) {
    ServerConfig.CommunicationPortHttps = 8443;
    ServerConfig.CommunicationPortHttp = 8081;
    for (bool http : {true, false}) {
        ServerConfig.CommunicationProtocolHttp = http;
        ASSERT_TRUE(init());
        EXPECT_EQ(option("listening_ports"), "8081");
        for (const std::string& entry : gServerOptions)
            EXPECT_EQ(entry.find("ssl_"), std::string::npos) << entry;
    }
}

// A time-out of 0 or less is left to the library's default (0 would make it
// drop requests).
TEST_F(HttpOptions, RequestTimeoutIsAPositiveSessionTimeout) {
    for (const auto& [timeout, expected] :
         {std::pair<int, const char*>{30000, "30000"}, {0, "(none)"}, {-1, "(none)"}}) {
        ServerConfig.SessionTimeout = timeout;
        ASSERT_TRUE(init());
        EXPECT_EQ(option("request_timeout_ms"), expected) << timeout;
    }
}

TEST_F(HttpOptions, PortTextOfAnyNumber) {
    ServerConfig.CommunicationProtocolHttps = true;
    for (const auto& [port, text] :
         {std::pair<int, const char*>{-5, "-5s"}, {INT32_MIN, "-2147483648s"}}) {
        ServerConfig.CommunicationPortHttps = port;
        ASSERT_TRUE(init());
        EXPECT_STREQ(gListeningPortText, text);
        EXPECT_EQ(option("listening_ports"), text);
    }
}

TEST_F(HttpOptions, EmptyLogDirectoryKeepsTheDoubledSeparator) {
    gLogDirectory[0] = '\0';
    ASSERT_TRUE(init());
    EXPECT_EQ(option("error_log_file"), "/WebServer.log");
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
    Options limits;
    for (const auto& [name, value] : configuredEngineOptions())
        if (name != "num_threads")
            limits.insert(limits.end(), {name, value});
    ASSERT_FALSE(limits.empty());
    expected.insert(expected.end(), limits.begin(), limits.end());
    EXPECT_EQ(gServerOptions, expected);

    // Building again starts from an empty list.
    EXPECT_TRUE(buildServerOptions(table, 2));
    expected = {"num_threads", "7"};
    expected.insert(expected.end(), limits.begin(), limits.end());
    EXPECT_EQ(gServerOptions, expected);
}

// Only the standard profile listens on IPv6 as well; an unknown profile name
// falls back to the classic answer, never to something in between.
TEST_F(HttpOptions, OnlyTheStandardProfileListensOnIpv6Too) {
    ServerConfig.CommunicationProtocolHttps = true;
    ServerConfig.CommunicationPortHttps = 8443;
    for (const auto& [profile, ports] : {std::pair<const char*, const char*>{"", "8443s"},
                                         {"Classic", "8443s"},
                                         {"Standrad", "8443s"},
                                         {"Standard", "+8443s"},
                                         {"standard", "+8443s"}}) {
        ServerConfig.RedfishProtocolProfile = profile;
        ASSERT_TRUE(init());
        EXPECT_EQ(option("listening_ports"), ports) << profile;
        EXPECT_STREQ(gListeningPortText, "8443s"); // the start-up line names the port alone
    }
}
