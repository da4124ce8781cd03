#include "latencystats.h"

#include <algorithm>
#include <cmath>

namespace bench {

uint32_t percentile(const std::vector<uint32_t>& sortedMicros, double p) {
    if (sortedMicros.empty())
        return 0;
    double rank = std::ceil(p / 100.0 * static_cast<double>(sortedMicros.size()));
    size_t index = rank < 1.0 ? 0 : static_cast<size_t>(rank) - 1;
    return sortedMicros[std::min(index, sortedMicros.size() - 1)];
}

LatencySummary summarizeLatencies(std::vector<uint32_t>& micros) {
    LatencySummary summary;
    if (micros.empty())
        return summary;
    std::sort(micros.begin(), micros.end());
    double total = 0;
    for (uint32_t us : micros)
        total += us;
    summary.count = micros.size();
    summary.p50Ms = percentile(micros, 50) / 1000.0;
    summary.p99Ms = percentile(micros, 99) / 1000.0;
    summary.maxMs = micros.back() / 1000.0;
    summary.meanMs = total / static_cast<double>(micros.size()) / 1000.0;
    return summary;
}

} // namespace bench
