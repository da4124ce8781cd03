// Latency percentiles over the samples of a run.
#ifndef TOLVANE_BENCH_LATENCYSTATS_H
#define TOLVANE_BENCH_LATENCYSTATS_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace bench {

struct LatencySummary {
    size_t count = 0;
    double p50Ms = 0;
    double p99Ms = 0;
    double maxMs = 0;
    double meanMs = 0;
};

// Nearest-rank percentile (0 < p <= 100) of sorted samples in microseconds.
uint32_t percentile(const std::vector<uint32_t>& sortedMicros, double p);

// Sorts `micros` and summarises it; all zero when empty.
LatencySummary summarizeLatencies(std::vector<uint32_t>& micros);

} // namespace bench

#endif
