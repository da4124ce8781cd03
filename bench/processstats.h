// Figures of the server process under test, read from /proc.
#ifndef TOLVANE_BENCH_PROCESSSTATS_H
#define TOLVANE_BENCH_PROCESSSTATS_H

#include <sys/types.h>

#include <string>

namespace bench {

struct ProcessSample {
    bool ok = false;
    double cpuSeconds = 0; // utime + stime of all its threads so far
    long peakRssKb = 0;    // VmHWM
    long rssKb = 0;        // VmRSS
};

// Reads /proc/<pid>/stat and /proc/<pid>/status; ok false when either is
// unreadable (the process ended).
ProcessSample sampleProcess(pid_t pid);

// utime + stime in clock ticks from the text of /proc/<pid>/stat; -1 when the
// text does not have that form. The command name may hold blanks and
// parentheses, so fields are counted from the last ")".
long long parseStatCpuTicks(const std::string& statText);

// A "Name:   1234 kB" line's number from the text of /proc/<pid>/status; -1
// when absent.
long parseStatusKb(const std::string& statusText, const std::string& name);

} // namespace bench

#endif
