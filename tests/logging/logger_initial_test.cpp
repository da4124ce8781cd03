#include <gtest/gtest.h>

#include <cstdlib>

#include "logging/Logger.h"
#include "redfishserver/serverconfig.h"

// Runs first in its own process: nothing has configured the logger yet.
TEST(LoggerInitial, UnconfiguredLoggerDropsRecordsWithAMessage) {
    EXPECT_EQ(Logger::LogFilePath(), "");
    EXPECT_EQ(Logger::LevelMask(), 0u);
    EXPECT_EQ(Logger::RollingSize(), 5000);
    EXPECT_EQ(Logger::RollingCount(), 3);
    testing::internal::CaptureStdout();
    Logger::PrintLog(0, "record\n");
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "LogServicePlugin::Error in opening debug log file\n");
}

TEST(LoggerInitial, ConfigurationWithoutLoggerKeysKeepsTheDefaults) {
    setenv("TOLVANE_LOG_DIR", "/nonexistent-tolvane-dir", 1);
    ServerConfig = ServerConfiguration();
    Logger::Configure();
    EXPECT_EQ(Logger::LogFilePath(), "/nonexistent-tolvane-dir/RedfishClientTrace.log");
    // Without RedfishDebugMask the setting is 0: trace records are written.
    EXPECT_EQ(Logger::LevelMask(), 0x0000FF00u);
    EXPECT_EQ(Logger::RollingSize(), 5000);
    EXPECT_EQ(Logger::RollingCount(), 3);
}
