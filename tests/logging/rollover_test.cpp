#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "logging/Logger.h"
#include "tracefixture.h"

namespace {

// Rolling size 1: the limit is 100 bytes.
constexpr size_t kLimit = 100;

class RollOver : public TraceFile {
  protected:
    void SetUp() override {
        TraceFile::SetUp();
        Logger::SetRollingSize(1);
    }
};

using ts::lines;

// Makes a directory's entries unchangeable while its files stay writable:
// read-only permissions for ordinary users, the immutable flag for root.
class FrozenDirectory {
  public:
    explicit FrozenDirectory(const std::string& path) : path_(path) {
        if (geteuid() != 0) {
            mode_ = true;
            chmod(path_.c_str(), 0555);
        } else {
            int fd = open(path_.c_str(), O_RDONLY | O_DIRECTORY);
            int flags = 0;
            if (fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
                flags |= FS_IMMUTABLE_FL;
                flag_ = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
            }
            if (fd >= 0)
                close(fd);
        }
        // Prove it: creating a name must fail now.
        std::string probe = path_ + "/probe";
        int fd = open(probe.c_str(), O_CREAT | O_WRONLY, 0644);
        active_ = fd < 0;
        if (fd >= 0) {
            close(fd);
            unlink(probe.c_str());
        }
    }
    ~FrozenDirectory() {
        if (mode_)
            chmod(path_.c_str(), 0755);
        if (flag_) {
            int fd = open(path_.c_str(), O_RDONLY | O_DIRECTORY);
            int flags = 0;
            if (fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
                flags &= ~FS_IMMUTABLE_FL;
                ioctl(fd, FS_IOC_SETFLAGS, &flags);
            }
            if (fd >= 0)
                close(fd);
        }
    }
    bool active() const { return active_; }

  private:
    std::string path_;
    bool mode_ = false;
    bool flag_ = false;
    bool active_ = false;
};

} // namespace

TEST_F(RollOver, FileOfExactlyTheLimitIsAppendedTo) {
    std::string full(kLimit, 'x');
    ts::writeFile(trace, full);
    Logger::PrintLog(0, "A");
    EXPECT_EQ(ts::readFile(trace), full + "A");
    EXPECT_FALSE(exists(numbered(1)));

    // One byte over: the next call renames it and starts an empty file.
    Logger::PrintLog(0, "B");
    EXPECT_EQ(ts::readFile(numbered(1)), full + "A");
    EXPECT_EQ(ts::readFile(trace), "B");
    EXPECT_FALSE(exists(numbered(2)));
}

TEST_F(RollOver, OneByteBelowAndAtTheLimit) {
    ts::writeFile(trace, std::string(kLimit - 1, 'x'));
    Logger::PrintLog(0, "A"); // now exactly at the limit
    Logger::PrintLog(0, "B"); // still appended
    EXPECT_EQ(ts::readFile(trace), std::string(kLimit - 1, 'x') + "AB");
    EXPECT_FALSE(exists(numbered(1)));
}

TEST_F(RollOver, CopiesFillNumberedNamesWithoutShifting) {
    for (int i = 0; i < 3; ++i) {
        ts::writeFile(trace, std::string(kLimit + 1, static_cast<char>('a' + i)));
        Logger::PrintLog(0, "r%d", i);
        EXPECT_EQ(ts::readFile(trace), "r" + std::to_string(i));
    }
    EXPECT_EQ(ts::readFile(numbered(1)), std::string(kLimit + 1, 'a'));
    EXPECT_EQ(ts::readFile(numbered(2)), std::string(kLimit + 1, 'b'));
    EXPECT_EQ(ts::readFile(numbered(3)), std::string(kLimit + 1, 'c'));
    EXPECT_FALSE(exists(numbered(4)));
}

TEST_F(RollOver, FullSetRenamesNothingAndEmptiesTheFile) {
    ts::writeFile(numbered(1), "one");
    ts::writeFile(numbered(2), "two");
    ts::writeFile(numbered(3), "three");
    ts::writeFile(trace, std::string(kLimit + 1, 'x'));
    Logger::PrintLog(0, "fresh");
    EXPECT_EQ(ts::readFile(trace), "fresh");
    EXPECT_EQ(ts::readFile(numbered(1)), "one");
    EXPECT_EQ(ts::readFile(numbered(2)), "two");
    EXPECT_EQ(ts::readFile(numbered(3)), "three");
    EXPECT_FALSE(exists(numbered(4)));
}

TEST_F(RollOver, GapAtOneIsFilledFirst) {
    ts::writeFile(numbered(2), "two");
    ts::writeFile(trace, std::string(kLimit + 1, 'x'));
    Logger::PrintLog(0, "fresh");
    EXPECT_EQ(ts::readFile(numbered(1)), std::string(kLimit + 1, 'x'));
    EXPECT_EQ(ts::readFile(numbered(2)), "two");
    EXPECT_FALSE(exists(numbered(3)));
    EXPECT_EQ(ts::readFile(trace), "fresh");
}

TEST_F(RollOver, DirectoryOfTheNumberedNameCountsAsTaken) {
    std::filesystem::create_directory(numbered(1));
    ts::writeFile(trace, std::string(kLimit + 1, 'x'));
    Logger::PrintLog(0, "fresh");
    EXPECT_TRUE(std::filesystem::is_directory(numbered(1)));
    EXPECT_EQ(ts::readFile(numbered(2)), std::string(kLimit + 1, 'x'));
}

TEST_F(RollOver, DroppedRecordStillRollsTheFile) {
    Logger::SetDebugLevel(5);
    ts::writeFile(trace, std::string(kLimit + 1, 'x'));
    Logger::PrintLog(0, "dropped");
    EXPECT_EQ(ts::readFile(numbered(1)), std::string(kLimit + 1, 'x'));
    EXPECT_TRUE(exists(trace));
    EXPECT_EQ(ts::readFile(trace), "");
}

TEST_F(RollOver, RollingCountAboveTheLimitIsClampedTo999) {
    Logger::SetRollingCount(5000);
    for (int n = 1; n <= 998; ++n)
        ts::writeFile(numbered(n), "");
    ts::writeFile(trace, std::string(kLimit + 1, 'x'));
    Logger::PrintLog(0, "a");
    EXPECT_EQ(ts::readFile(numbered(999)), std::string(kLimit + 1, 'x'));

    ts::writeFile(trace, std::string(kLimit + 1, 'y'));
    Logger::PrintLog(0, "b");
    EXPECT_FALSE(exists(numbered(1000)));
    EXPECT_EQ(ts::readFile(trace), "b");
}

TEST_F(RollOver, LimitIsComputedWithoutOverflow) {
    // 21474837 * 100 does not fit 32 bits; a wrapped limit would roll the
    // file on every call.
    Logger::SetRollingSize(21474837);
    ts::writeFile(trace, "small");
    Logger::PrintLog(0, "+");
    EXPECT_EQ(ts::readFile(trace), "small+");
    EXPECT_FALSE(exists(numbered(1)));
}

TEST_F(RollOver, SizesBeyondFourGigabytes) {
    // A sparse file costs no disk space; the limit is 5,000,000,000 bytes.
    Logger::SetRollingSize(50000000);
    const off_t limit = 5000000000LL;
    ts::writeFile(trace, "");
    ASSERT_EQ(truncate(trace.c_str(), limit), 0);
    Logger::PrintLog(0, "x");
    EXPECT_EQ(std::filesystem::file_size(trace), static_cast<uintmax_t>(limit) + 1);
    EXPECT_FALSE(exists(numbered(1)));
    Logger::PrintLog(0, "y");
    EXPECT_EQ(std::filesystem::file_size(numbered(1)), static_cast<uintmax_t>(limit) + 1);
    EXPECT_EQ(ts::readFile(trace), "y");
}

TEST_F(RollOver, FailedRenameIsReportedAndTheFileEmptiedAnyway) {
    std::string sub = dir.path() + "locked";
    std::filesystem::create_directory(sub);
    setenv("TOLVANE_LOG_DIR", sub.c_str(), 1);
    Logger::SetLogFilePath();
    std::string path = sub + "/RedfishClientTrace.log";
    ts::writeFile(path, std::string(kLimit + 1, 'x'));
    {
        // The file can still be written, but no name in its folder changes.
        FrozenDirectory frozen(sub);
        if (!frozen.active())
            GTEST_SKIP() << "cannot freeze a directory here";

        // Setting 0 reports nothing.
        testing::internal::CaptureStdout();
        Logger::PrintLog(0, "first");
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
        EXPECT_EQ(ts::readFile(path), "first");
        EXPECT_FALSE(exists(path + ".1"));

        // Settings 1 to 4 report it; the file is emptied all the same.
        Logger::SetDebugLevel(1);
        ts::writeFile(path, std::string(kLimit + 1, 'x'));
        testing::internal::CaptureStdout();
        Logger::PrintLog(0, "second");
        EXPECT_EQ(testing::internal::GetCapturedStdout(),
                  "LogServicePlugin::Could not rename the file");
        EXPECT_EQ(ts::readFile(path), "second");
        EXPECT_FALSE(exists(path + ".1"));
    }
}

TEST_F(RollOver, TwoThreadsAtTheMomentOfRollOver) {
    // Repeated to give the race a chance; each round starts just over the
    // limit and both threads write at once.
    for (int round = 0; round < 50; ++round) {
        std::string sub = dir.path() + "r" + std::to_string(round);
        std::filesystem::create_directory(sub);
        setenv("TOLVANE_LOG_DIR", sub.c_str(), 1);
        Logger::SetLogFilePath();
        std::string path = sub + "/RedfishClientTrace.log";
        std::string old(kLimit + 1, 'o');
        ts::writeFile(path, old);

        std::atomic<int> ready{0};
        auto writer = [&](int id) {
            ++ready;
            while (ready.load() < 2) {
            }
            Logger::PrintLog(0, "thread-%d\n", id);
        };
        std::thread a(writer, 1);
        std::thread b(writer, 2);
        a.join();
        b.join();

        EXPECT_EQ(ts::readFile(path + ".1"), old) << round;
        EXPECT_FALSE(exists(path + ".2")) << round;
        std::string now = ts::readFile(path);
        EXPECT_TRUE(now == "thread-1\nthread-2\n" || now == "thread-2\nthread-1\n")
            << round << ": " << now;
    }
}

TEST_F(RollOver, ConcurrentWritersLoseNothingAcrossManyRollOvers) {
    Logger::SetRollingCount(999);
    constexpr int kThreads = 2;
    constexpr int kRecords = 400;
    std::atomic<int> ready{0};
    auto writer = [&](int id) {
        ++ready;
        while (ready.load() < kThreads) {
        }
        for (int i = 0; i < kRecords; ++i)
            Logger::PrintLog(0, "T%d-%04d\n", id, i);
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back(writer, t);
    for (auto& t : threads)
        t.join();

    // Copies are numbered without gaps; each grew past the limit by less than
    // one record before it was renamed.
    std::vector<std::string> files;
    int n = 1;
    for (; exists(numbered(n)); ++n) {
        files.push_back(numbered(n));
        uintmax_t size = std::filesystem::file_size(numbered(n));
        EXPECT_GT(size, kLimit) << n;
        EXPECT_LE(size, kLimit + 8) << n;
    }
    EXPECT_GT(n, 50);
    EXPECT_FALSE(exists(numbered(n + 1)));
    files.push_back(trace);

    // Every record is in exactly one file, each thread's in its own order.
    std::map<int, int> next;
    int total = 0;
    for (const std::string& file : files) {
        for (const std::string& line : lines(ts::readFile(file))) {
            int id = -1;
            int seq = -1;
            ASSERT_EQ(std::sscanf(line.c_str(), "T%d-%d", &id, &seq), 2) << line;
            EXPECT_EQ(seq, next[id]) << file << ": " << line;
            next[id] = seq + 1;
            ++total;
        }
    }
    EXPECT_EQ(total, kThreads * kRecords);
    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(next[t], kRecords);
}
