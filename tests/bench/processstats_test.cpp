#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>

#include "processstats.h"

TEST(ProcessStats, CountsFieldsFromTheLastParenthesis) {
    // A command name with blanks and a ")" must not shift the fields.
    std::string stat = "1234 (tolvane (x) y) S 1 1234 1234 0 -1 4194560 100 0 0 0 "
                       "250 75 0 0 20 0 52 0 12345 1000000 500 18446744073709551615";
    EXPECT_EQ(bench::parseStatCpuTicks(stat), 325);
    EXPECT_EQ(bench::parseStatCpuTicks("no parenthesis here"), -1);
    EXPECT_EQ(bench::parseStatCpuTicks("1 (x) S 1 2 3"), -1);
}

TEST(ProcessStats, ReadsKilobyteLines) {
    std::string status = "Name:\ttolvane\nVmPeak:\t  20000 kB\nVmHWM:\t   12345 kB\n"
                         "VmRSS:\t    9876 kB\n";
    EXPECT_EQ(bench::parseStatusKb(status, "VmHWM"), 12345);
    EXPECT_EQ(bench::parseStatusKb(status, "VmRSS"), 9876);
    EXPECT_EQ(bench::parseStatusKb(status, "VmSwap"), -1);
    EXPECT_EQ(bench::parseStatusKb("VmHWM:\tlots\n", "VmHWM"), -1);
}

TEST(ProcessStats, SamplesALiveProcessAndNotAnEndedOne) {
    // Burn a little CPU so the figure can only grow.
    auto first = bench::sampleProcess(::getpid());
    ASSERT_TRUE(first.ok);
    volatile unsigned long spin = 0;
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(50);
    while (std::chrono::steady_clock::now() < until)
        spin = spin + 1;
    auto second = bench::sampleProcess(::getpid());
    ASSERT_TRUE(second.ok);
    EXPECT_GT(first.peakRssKb, 0);
    EXPECT_GE(second.peakRssKb, second.rssKb);
    EXPECT_GE(second.cpuSeconds, first.cpuSeconds);
    EXPECT_FALSE(bench::sampleProcess(4194304 + 7).ok); // beyond pid_max
}
