#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "redfishserver/installpaths.h"
#include "redfishserver/serverconfig.h"
#include "testsupport.h"

namespace {

bool sameSettings(const ServerConfiguration& a, const ServerConfiguration& b) {
    return a.CommunicationProtocolHttps == b.CommunicationProtocolHttps &&
           a.CommunicationProtocolHttp == b.CommunicationProtocolHttp &&
           a.CommunicationPortHttps == b.CommunicationPortHttps &&
           a.CommunicationPortHttp == b.CommunicationPortHttp &&
           a.SkipAuthentication == b.SkipAuthentication &&
           a.OsEventLoggingLevel == b.OsEventLoggingLevel && a.SessionTimeout == b.SessionTimeout &&
           a.MaximumNumberOfConcurrentSessions == b.MaximumNumberOfConcurrentSessions &&
           a.MaximumNumberOfEventSubscriptions == b.MaximumNumberOfEventSubscriptions &&
           a.MaximumEventDeliveryRetry == b.MaximumEventDeliveryRetry &&
           a.WatchdogTimeout == b.WatchdogTimeout && a.SsdpAdvertisement == b.SsdpAdvertisement &&
           a.SystemAlarmEnabled == b.SystemAlarmEnabled &&
           a.CommunicationHostAddressHttps == b.CommunicationHostAddressHttps &&
           a.CommunicationHostAddressHttp == b.CommunicationHostAddressHttp &&
           a.CurlEventDelivery == b.CurlEventDelivery && a.RedfishDebugMask == b.RedfishDebugMask &&
           a.rollingSize == b.rollingSize && a.rollingCount == b.rollingCount &&
           a.MaximumRequestBodySize == b.MaximumRequestBodySize &&
           a.MaximumUploadSize == b.MaximumUploadSize;
}

ServerConfiguration applied(const std::string& text) {
    ServerConfiguration cfg;
    EXPECT_TRUE(applyServerConfiguration(text, cfg)) << text;
    return cfg;
}

// A record with every field set to a value no file in these tests uses.
ServerConfiguration marked() {
    ServerConfiguration cfg;
    cfg.CommunicationProtocolHttps = true;
    cfg.CommunicationProtocolHttp = true;
    cfg.CommunicationPortHttps = 7001;
    cfg.CommunicationPortHttp = 7002;
    cfg.SkipAuthentication = true;
    cfg.OsEventLoggingLevel = 7003;
    cfg.SessionTimeout = 7004;
    cfg.MaximumNumberOfConcurrentSessions = 7005;
    cfg.MaximumNumberOfEventSubscriptions = 7006;
    cfg.MaximumEventDeliveryRetry = 7007;
    cfg.WatchdogTimeout = 7008;
    cfg.SsdpAdvertisement = true;
    cfg.SystemAlarmEnabled = true;
    cfg.CommunicationHostAddressHttps = "keep-https";
    cfg.CommunicationHostAddressHttp = "keep-http";
    cfg.CurlEventDelivery = true;
    cfg.RedfishDebugMask = 7009;
    cfg.rollingSize = 7010;
    cfg.rollingCount = 7011;
    cfg.MaximumRequestBodySize = 7012;
    cfg.MaximumUploadSize = 7013;
    return cfg;
}

const char* const kFullFile = R"({
    "CommunicationProtocolHttps": true,
    "CommunicationProtocolHttp": 1,
    "CommunicationPortHttps": 8443,
    "CommunicationPortHttp": "8080",
    "SkipAuthentication": "true",
    "OsEventLoggingLevel": 2,
    "SessionTimeout": 30000,
    "MaximumNumberOfConcurrentSessions": 16,
    "MaximumNumberOfEventSubscriptions": 8,
    "MaximumEventDeliveryRetry": 3,
    "WatchdogTimeout": 60,
    "SsdpAdvertisement": false,
    "SystemAlarmEnabled": "1",
    "CommunicationHostAddressHttps": "192.0.2.10",
    "CommunicationHostAddressHttp": "host.example",
    "CurlEventDelivery": 2,
    "RedfishDebugMask": 4,
    "rollingSize": 100,
    "rollingCount": 5,
    "MaximumRequestBodySize": 65536,
    "MaximumUploadSize": 1048576
})";

} // namespace

TEST(ConfigApply, ReadsEveryKey) {
    ServerConfiguration cfg = applied(kFullFile);
    EXPECT_TRUE(cfg.CommunicationProtocolHttps);
    EXPECT_TRUE(cfg.CommunicationProtocolHttp);
    EXPECT_EQ(cfg.CommunicationPortHttps, 8443);
    EXPECT_EQ(cfg.CommunicationPortHttp, 8080);
    EXPECT_TRUE(cfg.SkipAuthentication);
    EXPECT_EQ(cfg.OsEventLoggingLevel, 2);
    EXPECT_EQ(cfg.SessionTimeout, 30000);
    EXPECT_EQ(cfg.MaximumNumberOfConcurrentSessions, 16);
    EXPECT_EQ(cfg.MaximumNumberOfEventSubscriptions, 8);
    EXPECT_EQ(cfg.MaximumEventDeliveryRetry, 3);
    EXPECT_EQ(cfg.WatchdogTimeout, 60);
    EXPECT_FALSE(cfg.SsdpAdvertisement);
    EXPECT_TRUE(cfg.SystemAlarmEnabled);
    EXPECT_EQ(cfg.CommunicationHostAddressHttps, "192.0.2.10");
    EXPECT_EQ(cfg.CommunicationHostAddressHttp, "host.example");
    EXPECT_TRUE(cfg.CurlEventDelivery);
    EXPECT_EQ(cfg.RedfishDebugMask, 4);
    EXPECT_EQ(cfg.rollingSize, 100);
    EXPECT_EQ(cfg.rollingCount, 5);
    EXPECT_EQ(cfg.MaximumRequestBodySize, 65536);
    EXPECT_EQ(cfg.MaximumUploadSize, 1048576);
}

TEST(ConfigApply, OnlyPlainPortGivesPlainHttpAndZeros) {
    ServerConfiguration cfg = applied("{\"CommunicationPortHttp\": 8080}");
    ServerConfiguration expected;
    expected.CommunicationPortHttp = 8080;
    EXPECT_TRUE(sameSettings(cfg, expected));
    EXPECT_FALSE(cfg.CommunicationProtocolHttps);
}

TEST(ConfigApply, MissingKeysLeaveFieldsAlone) {
    ServerConfiguration cfg = marked();
    ASSERT_TRUE(
        applyServerConfiguration("{\"Unrelated\": 5, \"Nested\": {\"SessionTimeout\": 9}}", cfg));
    EXPECT_TRUE(sameSettings(cfg, marked()));
}

TEST(ConfigApply, KeysAreCaseSensitive) {
    ServerConfiguration cfg = applied("{\"communicationPortHttp\": 8080, \"SESSIONTIMEOUT\": 5,"
                                      " \"RollingSize\": 3, \"sessionTimeout\": 4}");
    EXPECT_TRUE(sameSettings(cfg, ServerConfiguration()));
}

TEST(ConfigApply, PortFromStrings) {
    EXPECT_EQ(applied("{\"CommunicationPortHttps\": \"8443\"}").CommunicationPortHttps, 8443);
    EXPECT_EQ(applied("{\"CommunicationPortHttps\": \"8443abc\"}").CommunicationPortHttps, 8443);
    EXPECT_EQ(applied("{\"CommunicationPortHttps\": \"  8443\"}").CommunicationPortHttps, 8443);
    EXPECT_EQ(applied("{\"CommunicationPortHttps\": \"abc8443\"}").CommunicationPortHttps, 0);
    EXPECT_EQ(applied("{\"CommunicationPortHttps\": \"-443\"}").CommunicationPortHttps, -443);
}

TEST(ConfigApply, RepeatedKeyTakesTheLastValue) {
    ServerConfiguration cfg =
        applied("{\"SessionTimeout\": 1000, \"RedfishDebugMask\": 1, \"SessionTimeout\": 2500}");
    EXPECT_EQ(cfg.SessionTimeout, 2500);
    EXPECT_EQ(cfg.RedfishDebugMask, 1);
}

TEST(ConfigApply, BooleanConversions) {
    struct Case {
        const char* value;
        bool expected;
    } cases[] = {{"true", true},      {"1", true},     {"\"1\"", true},      {"\"true\"", true},
                 {"2", true},         {"-1", true},    {"1.5", true},        {"\"7 days\"", true},
                 {"false", false},    {"0", false},    {"\"false\"", false}, {"\"yes\"", false},
                 {"\"True\"", false}, {"null", false}, {"0.5", false},       {"\"\"", false}};
    for (const Case& c : cases) {
        ServerConfiguration cfg =
            applied(std::string("{\"CommunicationProtocolHttps\": ") + c.value + "}");
        EXPECT_EQ(cfg.CommunicationProtocolHttps, c.expected) << c.value;
    }
}

TEST(ConfigApply, IntegerConversions) {
    struct Case {
        const char* value;
        int32_t expected;
    } cases[] = {{"30000", 30000},
                 {"-5", -5},
                 {"1.9", 1},
                 {"-1.9", -1},
                 {"1e3", 1},
                 {"2.5E2", 2},
                 {"true", 1},
                 {"false", 0},
                 {"null", 0},
                 {"\"true\"", 1},
                 {"\" -12ms\"", -12},
                 {"\"x1\"", 0},
                 {"2147483647", 2147483647},
                 {"-2147483648", INT32_MIN}};
    for (const Case& c : cases) {
        ServerConfiguration cfg = applied(std::string("{\"SessionTimeout\": ") + c.value + "}");
        EXPECT_EQ(cfg.SessionTimeout, c.expected) << c.value;
    }
}

TEST(ConfigApply, UnusableIntegerValuesKeepTheField) {
    for (const char* value : {"[1]", "{\"a\":1}", "[]", "2147483648", "-2147483649",
                              "\"4294967296\"", "99999999999999999999"}) {
        ServerConfiguration cfg = marked();
        ASSERT_TRUE(applyServerConfiguration(std::string("{\"SessionTimeout\": ") + value +
                                                 ", \"SkipAuthentication\": " + value +
                                                 ", \"WatchdogTimeout\": 1}",
                                             cfg))
            << value;
        EXPECT_EQ(cfg.SessionTimeout, 7004) << value;
        EXPECT_TRUE(cfg.SkipAuthentication) << value;
        EXPECT_EQ(cfg.WatchdogTimeout, 1) << value;
    }
}

TEST(ConfigApply, AddressKeysAsText) {
    struct Case {
        const char* value;
        const char* expected;
    } cases[] = {{"\"10.0.0.1\"", "10.0.0.1"},
                 {"\"\"", ""},
                 {"8080", "8080"},
                 {"-3", "-3"},
                 {"1.50", "1.50"},
                 {"1e3", "1e3"},
                 {"true", "true"},
                 {"false", "false"},
                 {"null", ""},
                 {"[1,2]", ""},
                 {"{\"a\":1}", ""},
                 {"\"a\\\"b\"", "a\"b"}};
    for (const Case& c : cases) {
        ServerConfiguration cfg = marked();
        ASSERT_TRUE(applyServerConfiguration(
            std::string("{\"CommunicationHostAddressHttps\": ") + c.value + "}", cfg));
        EXPECT_EQ(cfg.CommunicationHostAddressHttps, c.expected) << c.value;
        EXPECT_EQ(cfg.CommunicationHostAddressHttp, "keep-http");
    }
}

TEST(ConfigApply, InvalidTextLeavesEverythingAlone) {
    std::string deep = "{\"RedfishDebugMask\": 3, \"x\": ";
    for (int i = 0; i < 51; ++i)
        deep += "[";
    for (int i = 0; i < 51; ++i)
        deep += "]";
    deep += "}";
    for (const std::string& text :
         {std::string(""), std::string("[{\"SessionTimeout\":1}]"),
          std::string("{\"SessionTimeout\": 1,}"), std::string("{\"SessionTimeout\": 1"),
          std::string("SessionTimeout=1"), deep}) {
        ServerConfiguration cfg = marked();
        EXPECT_FALSE(applyServerConfiguration(text, cfg)) << text;
        EXPECT_TRUE(sameSettings(cfg, marked())) << text;
    }
}

TEST(ConfigApply, FiftyLevelsAreStillValid) {
    std::string text = "{\"SessionTimeout\": 9, \"x\": ";
    for (int i = 0; i < 49; ++i)
        text += "[";
    for (int i = 0; i < 49; ++i)
        text += "]";
    text += "}";
    EXPECT_EQ(applied(text).SessionTimeout, 9);
}

TEST(ConfigApply, CommentsAndTrailingTextAreAccepted) {
    ServerConfiguration cfg = applied("/* settings */ {\"SessionTimeout\": 5 // ms\n}\n"
                                      "trailing notes: {\"SessionTimeout\": 6}");
    EXPECT_EQ(cfg.SessionTimeout, 5);
}

TEST(ConfigApply, BodyAndUploadCapsFallBackToTheirDefaults) {
    const struct {
        const char* key;
        size_t (*cap)();
        size_t builtIn;
    } caps[] = {{"MaximumRequestBodySize", maximumRequestBodySize, 1048576u},
                {"MaximumUploadSize", maximumUploadSize, 64u * 1048576u}};
    const struct {
        const char* value;
        size_t expected; // 0: the built-in cap
    } values[] = {{"4096", 4096u}, {"0", 0}, {"-1", 0}, {"\"8 MiB\"", 8u}};
    const ServerConfiguration saved = ServerConfig;
    for (const auto& c : caps) {
        ServerConfig = ServerConfiguration();
        EXPECT_EQ(c.cap(), c.builtIn) << c.key;
        for (const auto& v : values) {
            ServerConfig = applied(std::string("{\"") + c.key + "\": " + v.value + "}");
            EXPECT_EQ(c.cap(), v.expected ? v.expected : c.builtIn) << c.key << " " << v.value;
        }
    }
    ServerConfig = saved;
}

// Reading the file from a temporary install tree.
class ConfigFile : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(setenv("TOLVANE_INSTALL_PATH", dir.path().c_str(), 1), 0);
        ASSERT_EQ(setenv("TOLVANE_LOG_DIR", (dir.path() + "logs").c_str(), 1), 0);
        std::filesystem::create_directories(dir.path() + "logs");
        std::memset(gInstallPath, 0, sizeof gInstallPath);
        std::memset(gLogDirectory, 0, sizeof gLogDirectory);
        ASSERT_EQ(readInstallPath(gInstallPath), 0);
        ASSERT_EQ(readLogDirectory(gLogDirectory), 0);
        composeOutLogPath();
        ServerConfig = ServerConfiguration();
    }
    void TearDown() override {
        unsetenv("TOLVANE_INSTALL_PATH");
        unsetenv("TOLVANE_LOG_DIR");
        ServerConfig = ServerConfiguration();
    }
    void writeConfig(const std::string& text) {
        ts::writeFile(dir.path() + "RedfishServer/ServerConfiguration.json", text);
    }
    std::string outLog() { return ts::readFile(dir.path() + "logs/RedfishServer.out.log"); }

    ts::TempDir dir;
};

TEST_F(ConfigFile, MissingFileIsReportedAndSettingsStayZero) {
    readServerConfiguration();
    EXPECT_EQ(outLog(), "failed to open the config file ..............\n");
    EXPECT_TRUE(sameSettings(ServerConfig, ServerConfiguration()));
}

TEST_F(ConfigFile, EmptyFileIsReportedAndRefused) {
    writeConfig("");
    EXPECT_FALSE(readServerConfiguration());
    EXPECT_EQ(outLog(), "failed to parse the config file ..............\n");
    EXPECT_TRUE(sameSettings(ServerConfig, ServerConfiguration()));
}

TEST_F(ConfigFile, InvalidFileIsReportedOnceAndSettingsStayZero) {
    writeConfig("{\"CommunicationPortHttp\": 8080, \"SessionTimeout\": }");
    EXPECT_FALSE(readServerConfiguration());
    EXPECT_EQ(outLog(), "failed to parse the config file ..............\n");
    EXPECT_TRUE(sameSettings(ServerConfig, ServerConfiguration()));
}

TEST_F(ConfigFile, TopLevelArrayIsInvalid) {
    writeConfig("[{\"CommunicationPortHttp\": 8080}]");
    readServerConfiguration();
    EXPECT_EQ(outLog(), "failed to parse the config file ..............\n");
    EXPECT_EQ(ServerConfig.CommunicationPortHttp, 0);
}

TEST_F(ConfigFile, ValidFileIsReadSilently) {
    writeConfig(kFullFile);
    readServerConfiguration();
    EXPECT_EQ(outLog(), "");
    EXPECT_TRUE(sameSettings(ServerConfig, applied(kFullFile)));
}

TEST_F(ConfigFile, LargeFileIsReadWhole) {
    // Settings past the first 2024 bytes still count, TLS included.
    std::string text = "{\"Padding\": \"" + std::string(5000, 'p') +
                       "\",\n"
                       "\"CommunicationProtocolHttps\": true, \"CommunicationPortHttps\": 9443}";
    writeConfig(text);
    readServerConfiguration();
    EXPECT_EQ(outLog(), "");
    EXPECT_TRUE(ServerConfig.CommunicationProtocolHttps);
    EXPECT_EQ(ServerConfig.CommunicationPortHttps, 9443);
}

TEST_F(ConfigFile, TextAfterOneMebibyteIsNotRead) {
    // The object closes within the cap: the rest is ignored.
    std::string closes = "{\"SessionTimeout\": 77}" + std::string(kMaxConfigFileSize, ' ') + "x";
    writeConfig(closes);
    readServerConfiguration();
    EXPECT_EQ(outLog(), "");
    EXPECT_EQ(ServerConfig.SessionTimeout, 77);

    // The object would close only past the cap: invalid.
    ServerConfig = ServerConfiguration();
    std::string late =
        "{\"SessionTimeout\": 78, \"Padding\": \"" + std::string(kMaxConfigFileSize, 'p') + "\"}";
    writeConfig(late);
    readServerConfiguration();
    EXPECT_EQ(outLog(), "failed to parse the config file ..............\n");
    EXPECT_EQ(ServerConfig.SessionTimeout, 0);
}

TEST_F(ConfigFile, ZeroByteEndsTheText) {
    writeConfig(std::string("{\"SessionTimeout\": 12}\0{garbage", 31));
    readServerConfiguration();
    EXPECT_EQ(outLog(), "");
    EXPECT_EQ(ServerConfig.SessionTimeout, 12);
}

TEST_F(ConfigFile, DeepNestingAnywhereInvalidatesTheFile) {
    std::string text = "{\"CommunicationPortHttp\": 8080, \"deep\": ";
    for (int i = 0; i < 51; ++i)
        text += "{\"k\":";
    text += "0";
    for (int i = 0; i < 51; ++i)
        text += "}";
    text += "}";
    writeConfig(text);
    readServerConfiguration();
    EXPECT_EQ(outLog(), "failed to parse the config file ..............\n");
    EXPECT_EQ(ServerConfig.CommunicationPortHttp, 0);
}
