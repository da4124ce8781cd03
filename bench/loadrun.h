// A load run: the clients, their request cycle and the figures gathered.
#ifndef TOLVANE_BENCH_LOADRUN_H
#define TOLVANE_BENCH_LOADRUN_H

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "errorkind.h"
#include "exchange.h"
#include "loadoptions.h"
#include "processstats.h"

namespace bench {

struct KindResult {
    uint64_t ok = 0;
    std::array<uint64_t, kErrorKindCount> errors{}; // indexed by ErrorKind; [0] unused
    std::vector<uint32_t> latencyMicros;            // of the successes
};

struct RunResult {
    double elapsedSeconds = 0;
    std::array<KindResult, kRequestKindCount> kinds;
    std::array<std::string, kErrorKindCount> firstErrorDetail; // one example per error kind
    uint64_t tlsHandshakes = 0;
    uint64_t resumedHandshakes = 0;
    ProcessSample serverBefore;
    ProcessSample serverAfter;
};

struct TokenOutcome {
    bool ok = false;
    std::string token; // may be empty when the server sent none
    std::string detail;
};

// One login with the options' credentials; the X-Auth-Token it answers.
TokenOutcome obtainToken(const LoadOptions& options, const Endpoint& endpoint,
                         const TlsClientContext* tls);

// The kinds of the mix, each repeated by its weight: the order a client cycles
// through (client i starts at position i).
std::vector<RequestKind> mixSequence(const std::vector<std::pair<RequestKind, int>>& mix);

// Runs `options.clients` clients for the duration (or request count) after the
// warm-up. `token` goes into the kinds that carry one.
RunResult runLoad(const LoadOptions& options, const Endpoint& endpoint, const TlsClientContext* tls,
                  const std::string& token);

} // namespace bench

#endif
