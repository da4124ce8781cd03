#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "logging/Logger.h"
#include "logging/loglines.h"

namespace {

std::vector<std::string> captured;

void captureLog(const char* format, ...) {
    va_list args;
    va_start(args, format);
    char buffer[1024];
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    captured.emplace_back(buffer);
}

class LogLines : public ::testing::Test {
  protected:
    void SetUp() override {
        captured.clear();
        saved = gLogFunction;
        gLogFunction = captureLog;
        Logger::SetDebugLevel(4); // every level written
    }
    void TearDown() override { gLogFunction = saved; }
    LogFn saved = nullptr;
};

} // namespace

TEST(LogLevelName, Table) {
    EXPECT_STREQ(LogLevelName(0), "ERROR");
    EXPECT_STREQ(LogLevelName(1), "INFO");
    EXPECT_STREQ(LogLevelName(4), "TRACE");
    for (int level : {2, 3, 5, -1, 100})
        EXPECT_STREQ(LogLevelName(level), "DEBUG") << level;
}

TEST_F(LogLines, LayoutWithThisLine) {
    const int line = __LINE__ + 1;
    REDFISH_LOG("RedfishServerHandler::handleGet", LOG_LEVEL_DEBUG, "Method = %s\n", "GET");
    ASSERT_EQ(captured.size(), 1u);
    EXPECT_EQ(captured[0], "REDFISHSERVER:loglines_test.cpp:" + std::to_string(line) +
                               ":RedfishServerHandler::handleGet()::[DEBUG]Method = GET\n");
}

TEST_F(LogLines, LayoutWithFixedLineAndNoArguments) {
    REDFISH_LOG_AT("mainRedfishServer", "502", LOG_LEVEL_TRACE, "Entry");
    REDFISH_LOG_AT("RedfishServerHandler::handlePost", "77", LOG_LEVEL_ERROR,
                   " Plugin Response:  %s", "{}");
    ASSERT_EQ(captured.size(), 2u);
    EXPECT_EQ(captured[0], "REDFISHSERVER:loglines_test.cpp:502:mainRedfishServer()::[TRACE]Entry");
    EXPECT_EQ(captured[1], "REDFISHSERVER:loglines_test.cpp:77:"
                           "RedfishServerHandler::handlePost()::[ERROR] Plugin Response:  {}");
}

TEST_F(LogLines, ControlCharactersInArgumentsCannotForgeLines) {
    struct Case {
        const char* argument;
        const char* written;
    } cases[] = {
        {"/x\nREDFISHSERVER:fake", "/x\\nREDFISHSERVER:fake"},
        {"a\r\tb", "a\\r\\tb"},
        {"\x01\x1b[31m\x7f", "\\u0001\\u001B[31m\\u007F"},
        {"caf\xc3\xa9 \\n", "caf\xc3\xa9 \\n"},
    };
    for (const Case& c : cases) {
        captured.clear();
        REDFISH_LOG_AT("F::g", "1", LOG_LEVEL_DEBUG, "URI = %s (%d)\n", c.argument, -7);
        ASSERT_EQ(captured.size(), 1u);
        EXPECT_EQ(captured[0],
                  std::string("REDFISHSERVER:loglines_test.cpp:1:F::g()::[DEBUG]URI = ") +
                      c.written + " (-7)\n");
    }
}

TEST_F(LogLines, PerRequestDebugLinesCostNothingAtTheShippedSetting) {
    struct Row {
        int setting, level;
        bool written;
    } rows[] = {{0, 3, false}, {0, 4, false}, {0, 0, true},  {0, 1, true}, {3, 3, true},
                {3, 4, false}, {4, 4, true},  {6, 3, false}, {6, 0, true}};
    for (const Row& row : rows) {
        Logger::SetDebugLevel(row.setting);
        captured.clear();
        int formatted = 0;
        REDFISH_LOG_AT("F::g", "1", row.level, "%d", ++formatted);
        EXPECT_EQ(captured.size(), row.written ? 1u : 0u) << row.setting << "/" << row.level;
        EXPECT_EQ(formatted, row.written ? 1 : 0) << row.setting << "/" << row.level;
    }
}

TEST_F(LogLines, NothingHappensWithoutALogPlugin) {
    gLogFunction = nullptr;
    REDFISH_LOG("f", LOG_LEVEL_DEBUG, "dropped");
    EXPECT_TRUE(captured.empty());
}

TEST(LogLineSource, BaseName) {
    EXPECT_STREQ(sourceBaseName("/a/b/c.cpp"), "c.cpp");
    EXPECT_STREQ(sourceBaseName("C:\\src\\x\\y.cpp"), "y.cpp");
    EXPECT_STREQ(sourceBaseName("plain.cpp"), "plain.cpp");
}
