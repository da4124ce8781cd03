#include <gtest/gtest.h>

#include <sys/syscall.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>

#include "logging/Logger.h"
#include "logging/logplatform.h"
#include "logging/timestamp.h"
#include "redfishserver/serverconfig.h"
#include "tracefixture.h"

TEST_F(TraceFile, RecordIsWrittenExactlyAsFormatted) {
    Logger::PrintLog(0, "plain text");
    Logger::PrintLog(0, "%s=%d;%5.1f|%%", "n", -3, 2.5);
    Logger::PrintLog(7, "line\n");
    EXPECT_EQ(ts::readFile(trace), "plain textn=-3;  2.5|%line\n");
}

TEST_F(TraceFile, MovedOrReplacedFileIsFollowedByANewOne) {
    Logger::PrintLog(0, "first");
    // The file may be moved away while the server runs; the next record
    // starts a new one.
    std::filesystem::rename(trace, dir.path() + "moved.log");
    Logger::PrintLog(0, "second");
    EXPECT_EQ(ts::readFile(trace), "second");
    EXPECT_EQ(ts::readFile(dir.path() + "moved.log"), "first");
    // A file put in its place is the one written to.
    std::filesystem::rename(dir.path() + "moved.log", trace);
    Logger::PrintLog(0, "+");
    EXPECT_EQ(ts::readFile(trace), "first+");
}

TEST_F(TraceFile, UnopenableFileDropsTheRecordWithAMessage) {
    setenv("TOLVANE_LOG_DIR", (dir.path() + "missing").c_str(), 1);
    Logger::SetLogFilePath();
    testing::internal::CaptureStdout();
    Logger::PrintLog(0, "lost");
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "LogServicePlugin::Error in opening debug log file\n");
    EXPECT_FALSE(exists(dir.path() + "missing"));
}

TEST_F(TraceFile, DebugLevelTable) {
    struct Row {
        int32_t level;
        uint32_t mask;
    } rows[] = {{0, 0x0000FF00u},  {1, 0x0000FFF0u},   {2, 0x0000FFFFu},        {3, 0x000FFFFFu},
                {4, 0x00FFFFFFu},  {5, 0x0F000000u},   {6, 0xF0000000u},        {7, 0x0000F000u},
                {-1, 0x0000F000u}, {100, 0x0000F000u}, {INT32_MIN, 0x0000F000u}};
    for (const Row& row : rows) {
        Logger::SetDebugLevel(row.level);
        EXPECT_EQ(Logger::LevelMask(), row.mask) << row.level;
    }
}

TEST_F(TraceFile, FilterByKind) {
    // Kinds -1 and 5 are never filtered; 0..4 follow the level.
    struct Row {
        int32_t level;
        const char* written;
    } rows[] = {{0, "[-1][0][5]"},
                {1, "[-1][0][1][5]"},
                {2, "[-1][0][1][2][5]"},
                {3, "[-1][0][1][2][3][5]"},
                {4, "[-1][0][1][2][3][4][5]"},
                {5, "[-1][5]"},
                {6, "[-1][5]"},
                {7, "[-1][0][5]"},
                {-1, "[-1][0][5]"}};
    for (const Row& row : rows) {
        std::filesystem::remove(trace);
        Logger::SetDebugLevel(row.level);
        for (int kind = -1; kind <= 5; ++kind)
            Logger::PrintLog(kind, "[%d]", kind);
        EXPECT_EQ(ts::readFile(trace), row.written) << "level " << row.level;
    }
}

TEST_F(TraceFile, RollingSizeAndCountRules) {
    Logger::SetRollingSize(10);
    Logger::SetRollingCount(5);
    Logger::SetRollingSize(0);
    Logger::SetRollingSize(-4);
    Logger::SetRollingCount(0);
    Logger::SetRollingCount(-1);
    EXPECT_EQ(Logger::RollingSize(), 10);
    EXPECT_EQ(Logger::RollingCount(), 5);
    Logger::SetRollingCount(999);
    EXPECT_EQ(Logger::RollingCount(), 999);
    Logger::SetRollingCount(1000);
    EXPECT_EQ(Logger::RollingCount(), 999);
    Logger::SetRollingSize(INT32_MAX);
    EXPECT_EQ(Logger::RollingSize(), INT32_MAX);
}

TEST_F(TraceFile, ConfigureTakesTheConfiguration) {
    ServerConfiguration saved = ServerConfig;
    ServerConfig = ServerConfiguration();
    ServerConfig.RedfishDebugMask = 2;
    ServerConfig.rollingSize = 10;
    ServerConfig.rollingCount = 5;
    setenv("TOLVANE_LOG_DIR", "/var/tmp/elsewhere", 1);
    Logger::Configure();
    EXPECT_EQ(Logger::LogFilePath(), "/var/tmp/elsewhere/RedfishClientTrace.log");
    EXPECT_EQ(Logger::LevelMask(), 0x0000FFFFu);
    EXPECT_EQ(Logger::RollingSize(), 10);
    EXPECT_EQ(Logger::RollingCount(), 5);

    // 0 or negative values keep what is there.
    ServerConfig.RedfishDebugMask = 6;
    ServerConfig.rollingSize = 0;
    ServerConfig.rollingCount = -2;
    Logger::Configure();
    EXPECT_EQ(Logger::LevelMask(), 0xF0000000u);
    EXPECT_EQ(Logger::RollingSize(), 10);
    EXPECT_EQ(Logger::RollingCount(), 5);
    ServerConfig = saved;
}

TEST_F(TraceFile, LogDirectoryComesFromTheSameSourceAsTheStartUp) {
    setenv("TOLVANE_LOG_DIR", "/data/logs", 1);
    EXPECT_EQ(Logger::GetLogDirectory(), "/data/logs/");
    Logger::SetLogFilePath();
    EXPECT_EQ(Logger::LogFilePath(), "/data/logs/RedfishClientTrace.log");

    setenv("TOLVANE_LOG_DIR", "/data/logs/", 1);
    EXPECT_EQ(Logger::GetLogDirectory(), "/data/logs/");

    setenv("TOLVANE_LOG_DIR", "", 1);
    EXPECT_EQ(Logger::GetLogDirectory(), "");
    Logger::SetLogFilePath();
    EXPECT_EQ(Logger::LogFilePath(), "RedfishClientTrace.log");

    unsetenv("TOLVANE_LOG_DIR");
    setenv("TOLVANE_INSTALL_PATH", "/opt/tree/", 1);
    EXPECT_EQ(Logger::GetLogDirectory(), "/opt/tree/logs/");
    unsetenv("TOLVANE_INSTALL_PATH");
}

TEST_F(TraceFile, FileExistsForFilesAndDirectories) {
    ts::writeFile(dir.path() + "file", "x");
    std::filesystem::create_directory(dir.path() + "sub");
    EXPECT_TRUE(Logger::FileExists(dir.path() + "file"));
    EXPECT_TRUE(Logger::FileExists(dir.path() + "sub"));
    EXPECT_FALSE(Logger::FileExists(dir.path() + "none"));
    EXPECT_FALSE(Logger::FileExists(""));
}

TEST(TimeStamp, FixedTimes) {
    struct Case {
        std::time_t when;
        const char* text;
    } cases[] = {{0, "Thu Jan 1 0:0:0 UTC 1970"},
                 {1796572925, "Sun Dec 6 16:2:5 UTC 2026"},
                 {951868799, "Tue Feb 29 23:59:59 UTC 2000"},
                 {2147483648LL, "Tue Jan 19 3:14:8 UTC 2038"},
                 {1717243810, "Sat Jun 1 12:10:10 UTC 2024"}};
    for (const Case& c : cases) {
        char buffer[kTimeStampBufferSize] = {};
        formatTimeStamp(c.when, buffer, sizeof buffer);
        EXPECT_STREQ(buffer, c.text);
    }
}

TEST(TimeStamp, UniversalTimeWhateverTheLocalZone) {
    const char* old = std::getenv("TZ");
    std::string saved = old ? old : "";
    setenv("TZ", "EST5EDT", 1);
    tzset();
    char buffer[kTimeStampBufferSize] = {};
    formatTimeStamp(0, buffer, sizeof buffer);
    EXPECT_STREQ(buffer, "Thu Jan 1 0:0:0 UTC 1970");
    if (old)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

TEST(TimeStamp, CurrentTime) {
    char buffer[kTimeStampBufferSize] = {};
    std::time_t before = std::time(nullptr);
    Logger::GetTimeStamp(buffer);
    std::time_t after = std::time(nullptr);
    std::string text = buffer;
    EXPECT_LE(text.size(), 28u);
    EXPECT_TRUE(std::regex_match(
        text, std::regex("(Sun|Mon|Tue|Wed|Thu|Fri|Sat) "
                         "(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) "
                         "([1-9]|[12][0-9]|3[01]) ([0-9]|1[0-9]|2[0-3]):([0-9]|[1-5][0-9]):"
                         "([0-9]|[1-5][0-9]|60) UTC [0-9]{4}")))
        << text;
    bool matches = false;
    for (std::time_t t = before; t <= after; ++t) {
        char expected[kTimeStampBufferSize] = {};
        formatTimeStamp(t, expected, sizeof expected);
        matches = matches || text == expected;
    }
    EXPECT_TRUE(matches) << text;
    // Nothing is written behind the terminating zero.
    for (size_t i = text.size(); i < sizeof buffer; ++i)
        EXPECT_EQ(buffer[i], '\0') << i;
}

TEST(TimeStamp, SmallBufferIsNeverOverrun) {
    char buffer[12];
    std::memset(buffer, 'Z', sizeof buffer);
    formatTimeStamp(0, buffer, 8);
    EXPECT_STREQ(buffer, "Thu Jan");
    EXPECT_EQ(buffer[8], 'Z');
}

TEST(ThreadId, KernelThreadId) {
    EXPECT_EQ(currentThreadId(), static_cast<int32_t>(getpid()));
    EXPECT_EQ(currentThreadId(), static_cast<int32_t>(syscall(SYS_gettid)));
    int32_t other = 0;
    int32_t kernel = 0;
    std::thread t([&] {
        other = currentThreadId();
        kernel = static_cast<int32_t>(syscall(SYS_gettid));
    });
    t.join();
    EXPECT_EQ(other, kernel);
    EXPECT_NE(other, currentThreadId());
}
