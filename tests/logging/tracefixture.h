// A logger writing into a private temporary log directory.
#ifndef TOLVANE_TESTS_LOGGING_TRACEFIXTURE_H
#define TOLVANE_TESTS_LOGGING_TRACEFIXTURE_H

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "logging/Logger.h"
#include "testsupport.h"

class TraceFile : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(setenv("TOLVANE_LOG_DIR", dir.path().c_str(), 1), 0);
        Logger::SetLogFilePath();
        Logger::SetDebugLevel(0);
        Logger::SetRollingSize(5000);
        Logger::SetRollingCount(3);
        trace = dir.path() + "RedfishClientTrace.log";
        ASSERT_EQ(Logger::LogFilePath(), trace);
    }
    void TearDown() override { unsetenv("TOLVANE_LOG_DIR"); }

    std::string numbered(int n) const { return trace + "." + std::to_string(n); }
    static bool exists(const std::string& path) { return std::filesystem::exists(path); }

    ts::TempDir dir;
    std::string trace;
};

#endif
