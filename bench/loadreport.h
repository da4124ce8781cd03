// The load tool's report: a table for people and one line for scripts.
#ifndef TOLVANE_BENCH_LOADREPORT_H
#define TOLVANE_BENCH_LOADREPORT_H

#include <array>
#include <cstdint>
#include <ostream>

#include "latencystats.h"
#include "loadoptions.h"
#include "loadrun.h"

namespace bench {

struct RunFigures {
    uint64_t ok = 0;
    uint64_t errors = 0;
    std::array<uint64_t, kErrorKindCount> errorsByKind{};
    double requestsPerSecond = 0; // successes per second
    LatencySummary latency;       // of all successes
    bool serverKnown = false;
    long peakRssKb = 0;
    double serverCpuSeconds = 0;
    double cpuMicrosPerRequest = 0; // server CPU over the window / successes
};

// Totals over all kinds; sorts the latency samples of `run`.
RunFigures computeFigures(RunResult& run);

// Header, one row per kind of the mix and a total row, errors with one
// example each, TLS handshake counts and the server's figures.
void printReport(std::ostream& out, const LoadOptions& options, RunResult& run,
                 const RunFigures& figures);

// "RESULT label=... rps=... p50_ms=... err_malformed=... cpu_us_per_req=..."
void printKeyValue(std::ostream& out, const LoadOptions& options, const RunResult& run,
                   const RunFigures& figures);

} // namespace bench

#endif
