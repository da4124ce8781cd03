// The log plug-in's quick writer: one write per line, stamps built from a
// cached second, lines formatted without allocations where they fit.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "RedfishPlugin.h"
#include "logsink.h"
#include "testsupport.h"

namespace fs = std::filesystem;
using tolvane::logservice::LogSink;
using tolvane::logservice::utcTimeStamp;

namespace {

using ts::lines;

const std::regex kLine(R"((\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z) (.*))");

TEST(PerfLogSink, EveryLineIsInTheFileWhenTheCallReturns) {
    const fs::path dir = fs::path(ts::makeTempDir("tolvane-perflog"));
    LogSink sink(dir);
    for (int i = 0; i < 3; ++i) {
        sink.write("line " + std::to_string(i) + "\r\n\n");
        const std::vector<std::string> now = lines(ts::readFile(sink.file()));
        ASSERT_EQ(now.size(), static_cast<size_t>(i + 1));
        std::smatch m;
        ASSERT_TRUE(std::regex_match(now.back(), m, kLine)) << now.back();
        EXPECT_EQ(m[2].str(), "line " + std::to_string(i));
    }
    fs::remove_all(dir);
}

TEST(PerfLogSink, StampIsTheCurrentUtcTimeAndNeverGoesBackInTheFile) {
    const fs::path dir = fs::path(ts::makeTempDir("tolvane-perfstamp"));
    std::string before;
    std::string after;
    {
        LogSink sink(dir);
        before = utcTimeStamp();
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&sink] {
                for (int i = 0; i < 300; ++i)
                    sink.write("x");
            });
        for (auto& th : threads)
            th.join();
        after = utcTimeStamp();
    }
    const std::vector<std::string> all = lines(ts::readFile(dir / "RedfishServer.log"));
    ASSERT_EQ(all.size(), 1200u);
    std::string previous = before;
    for (const std::string& line : all) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, kLine)) << line;
        // The stamps are fixed-width, so text order is time order.
        EXPECT_LE(previous, m[1].str());
        previous = m[1].str();
    }
    EXPECT_LE(previous, after);
    fs::remove_all(dir);
}

TEST(PerfLogSink, StampTextMatchesTheCalendar) {
    // Bracketed by the clock the sink reads: time() is the kernel's coarse
    // clock and may still show the previous second a few milliseconds in.
    const auto secondsNow = [] {
        return std::chrono::duration_cast<std::chrono::seconds>(
                   std::chrono::system_clock::now().time_since_epoch())
            .count();
    };
    const std::time_t before = static_cast<std::time_t>(secondsNow());
    const std::string stamp = utcTimeStamp();
    const std::time_t after = static_cast<std::time_t>(secondsNow());
    std::smatch m;
    ASSERT_TRUE(
        std::regex_match(stamp, m, std::regex(R"((\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d)\.\d{3}Z)")))
        << stamp;
    bool matches = false;
    for (std::time_t t = before; t <= after; ++t) {
        std::tm tm{};
        gmtime_r(&t, &tm);
        char expected[32];
        std::strftime(expected, sizeof expected, "%Y-%m-%dT%H:%M:%S", &tm);
        matches = matches || m[1].str() == expected;
    }
    EXPECT_TRUE(matches) << stamp;
}

TEST(PerfLogSink, EntryPointKeepsLinesOfEveryLength) {
    const fs::path root = fs::path(ts::makeTempDir("tolvane-perfplugin"));
    setenv("TOLVANE_LOG_DIR", (root / "logs").c_str(), 1);
    void* handle = dlopen(TOLVANE_LOGSERVICE_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << dlerror();
    auto log = reinterpret_cast<LogFn>(dlsym(handle, REDFISH_ENTRY_LOG));
    ASSERT_NE(log, nullptr);
    std::vector<std::string> texts;
    // Around the size that is formatted without an allocation.
    for (size_t size : {size_t{0}, size_t{1}, size_t{1022}, size_t{1023}, size_t{1024},
                        size_t{1025}, size_t{70000}}) {
        std::string text(size, 'q');
        if (size > 0)
            text.back() = 'Z';
        texts.push_back(text);
        log("%s:%s:%s:%s()::[%s]%s", "REDFISHSERVER", "f.cpp", "1", "F::g", "DEBUG", text.c_str());
    }
    const std::vector<std::string> all = lines(ts::readFile(root / "logs" / "RedfishServer.log"));
    ASSERT_EQ(all.size(), texts.size());
    for (size_t i = 0; i < texts.size(); ++i) {
        // The stamp alone by pattern: a pattern over a long line recurses deeply.
        const size_t blank = all[i].find(' ');
        ASSERT_NE(blank, std::string::npos) << i;
        EXPECT_TRUE(std::regex_match(all[i].substr(0, blank),
                                     std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)")))
            << i;
        EXPECT_EQ(all[i].substr(blank + 1), "REDFISHSERVER:f.cpp:1:F::g()::[DEBUG]" + texts[i])
            << i;
    }
    unsetenv("TOLVANE_LOG_DIR");
    fs::remove_all(root);
}

} // namespace
