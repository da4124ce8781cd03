// The log plug-in: its file, rotation and thread safety, and its entry point.
#include <dlfcn.h>
#include <sys/resource.h>

#include <csignal>
#include <regex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "RedfishPlugin.h"
#include "logsink.h"
#include "pluginharness.h"

namespace fs = std::filesystem;
using tolvane::logservice::LogSink;

TEST(LogSink, LinesCarryAUtcTimeStampAndOneLineEnd) {
    fs::path dir = fs::path(plugintest::makeTempDir("tolvane-logsink")) / "created";
    {
        LogSink sink(dir);
        sink.write("first\n");
        sink.write("second");
    }
    const std::string text = plugintest::readFile(dir / "RedfishServer.log");
    std::regex line(
        R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z first\n\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z second\n)");
    EXPECT_TRUE(std::regex_match(text, line)) << text;
    fs::remove_all(dir.parent_path());
}

TEST(LogSink, RotatesBySizeAndKeepsTheNewest) {
    fs::path dir = plugintest::makeTempDir("tolvane-logrotate");
    {
        LogSink sink(dir, 200, 2);
        for (int i = 0; i < 30; ++i)
            sink.write("line " + std::to_string(i) + " " + std::string(20, 'x'));
    }
    EXPECT_TRUE(fs::exists(dir / "RedfishServer.log.1"));
    EXPECT_TRUE(fs::exists(dir / "RedfishServer.log.2"));
    EXPECT_FALSE(fs::exists(dir / "RedfishServer.log.3"));
    EXPECT_LE(fs::file_size(dir / "RedfishServer.log"), 200u);
    EXPECT_NE(plugintest::readFile(dir / "RedfishServer.log").find("line 29 "), std::string::npos);
    fs::remove_all(dir);
}

TEST(LogSink, ConcurrentWritersNeverInterleave) {
    fs::path dir = plugintest::makeTempDir("tolvane-logthreads");
    {
        LogSink sink(dir);
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&sink, t] {
                for (int i = 0; i < 250; ++i)
                    sink.write("thread " + std::to_string(t) + " " +
                               std::string(100, static_cast<char>('a' + t)));
            });
        for (auto& th : threads)
            th.join();
    }
    const std::string text = plugintest::readFile(dir / "RedfishServer.log");
    std::regex line(R"(\S+ thread (\d) ([a-d])\2{99}$)");
    size_t count = 0, start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        ASSERT_NE(end, std::string::npos);
        EXPECT_TRUE(std::regex_match(text.substr(start, end - start), line));
        ++count;
        start = end + 1;
    }
    EXPECT_EQ(count, 1000u);
    fs::remove_all(dir);
}

TEST(LogSink, UnwritableDirectoryDropsLinesUntilItCanBeMade) {
    const fs::path base = plugintest::makeTempDir("tolvane-logblocked");
    plugintest::writeFile(base / "logs", "a file where the directory should be");
    LogSink sink(base / "logs");
    EXPECT_NO_THROW(sink.write("dropped"));
    fs::remove(base / "logs");
    sink.write("kept");
    const std::string text = plugintest::readFile(base / "logs" / "RedfishServer.log");
    EXPECT_EQ(text.find("dropped"), std::string::npos) << text;
    EXPECT_NE(text.find(" kept\n"), std::string::npos) << text;
    EXPECT_NE(text.find(" 1 log line(s) lost: "), std::string::npos) << text;
    fs::remove_all(base);
}

// A log directory removed or replaced while serving, and a disk that fills
// up in the middle of a line (a file size limit stands in for it): no line
// goes to a deleted file, none is left half written, the loss is told.
TEST(LogSink, ReplacedDirectoriesAndFullDisksLoseWholeLinesAndSaySo) {
    const fs::path base = plugintest::makeTempDir("tolvane-logfaults");
    LogSink sink(base / "logs");
    sink.write("first");
    fs::rename(base / "logs", base / "gone");
    sink.write("after the directory went");
    struct rlimit saved {};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = fs::file_size(sink.file()) + 10;
    ::setrlimit(RLIMIT_FSIZE, &small);
    sink.write("a line longer than the room that is left on the disk");
    ::setrlimit(RLIMIT_FSIZE, &saved);
    sink.write("once there is room");
    const std::string text = plugintest::readFile(sink.file());
    EXPECT_EQ(text.find("first"), std::string::npos) << "the old directory's file is gone";
    const std::regex whole(
        R"((\S+ (after the directory went|once there is room|1 log line\(s\) lost: .*)\n){3})");
    EXPECT_TRUE(std::regex_match(text, whole)) << text;
    fs::remove_all(base);
}

TEST(LogServicePlugin, EntryPointFormatsIntoTheLogDirectory) {
    fs::path root = plugintest::makeTempDir("tolvane-logplugin");
    fs::path plugins = root / "RedfishServer" / "Plugins";
    fs::create_directories(plugins);
    fs::copy_file(TOLVANE_LOGSERVICE_PLUGIN_PATH, plugins / "LogServicePlugin.so");
    // Without TOLVANE_LOG_DIR the lines go to <server dir>/../logs.
    unsetenv("TOLVANE_LOG_DIR");
    void* handle = dlopen((plugins / "LogServicePlugin.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << dlerror();
    auto log = reinterpret_cast<LogFn>(dlsym(handle, REDFISH_ENTRY_LOG));
    ASSERT_NE(log, nullptr);
    log("%s:%s:%s:%s()::[%s]"
        "value %d of %s",
        "REDFISHSERVER", "file.cpp", "12", "Fn::name", "DEBUG", 42, "many");
    const std::string big(5000, 'z');
    log("%s", big.c_str());
    log(nullptr);
    const std::string text = plugintest::readFile(root / "logs" / "RedfishServer.log");
    EXPECT_NE(text.find(" REDFISHSERVER:file.cpp:12:Fn::name()::[DEBUG]value 42 of many\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find(big + "\n"), std::string::npos);
    fs::remove_all(root);
}
