#include <gtest/gtest.h>

#include "latencystats.h"

TEST(LatencyStats, NearestRankPercentiles) {
    std::vector<uint32_t> samples;
    for (uint32_t i = 100; i >= 1; --i)
        samples.push_back(i * 1000); // 1 ms to 100 ms, unsorted
    auto summary = bench::summarizeLatencies(samples);
    EXPECT_EQ(summary.count, 100u);
    EXPECT_DOUBLE_EQ(summary.p50Ms, 50.0);
    EXPECT_DOUBLE_EQ(summary.p99Ms, 99.0);
    EXPECT_DOUBLE_EQ(summary.maxMs, 100.0);
    EXPECT_DOUBLE_EQ(summary.meanMs, 50.5);
}

TEST(LatencyStats, SmallAndEmptySampleSets) {
    std::vector<uint32_t> none;
    auto empty = bench::summarizeLatencies(none);
    EXPECT_EQ(empty.count, 0u);
    EXPECT_EQ(empty.p99Ms, 0.0);
    std::vector<uint32_t> one = {2500};
    auto single = bench::summarizeLatencies(one);
    EXPECT_DOUBLE_EQ(single.p50Ms, 2.5);
    EXPECT_DOUBLE_EQ(single.p99Ms, 2.5);
    // With three samples the 99th percentile is the largest, the median the middle one.
    std::vector<uint32_t> three = {3000, 1000, 2000};
    auto summary = bench::summarizeLatencies(three);
    EXPECT_DOUBLE_EQ(summary.p50Ms, 2.0);
    EXPECT_DOUBLE_EQ(summary.p99Ms, 3.0);
    EXPECT_EQ(bench::percentile({10, 20, 30, 40}, 25), 10u);
    EXPECT_EQ(bench::percentile({10, 20, 30, 40}, 26), 20u);
}
