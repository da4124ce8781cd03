#include "loadrun.h"

#include <atomic>
#include <chrono>
#include <limits>
#include <algorithm>
#include <thread>

#include "requestbuilder.h"
#include "responsecheck.h"

namespace bench {

namespace {

using Clock = std::chrono::steady_clock;

int64_t nowNanos() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

struct SharedState {
    std::atomic<bool> measuring{false};
    std::atomic<bool> stop{false};
    std::atomic<long long> claimed{0};
    // Successes that complete after this moment fall outside the measured
    // window (duration mode); errors are counted until the last client ends.
    std::atomic<int64_t> windowEndNanos{std::numeric_limits<int64_t>::max()};
};

struct ClientResult {
    std::array<KindResult, kRequestKindCount> kinds;
    std::array<std::string, kErrorKindCount> firstErrorDetail;
    uint64_t tlsHandshakes = 0;
    uint64_t resumedHandshakes = 0;
};

void runClient(int index, const LoadOptions& options, const Endpoint& endpoint,
               const TlsClientContext* tls, const std::string& token, SharedState& shared,
               ClientResult& out) {
    std::array<std::string, kRequestKindCount> requests;
    for (const auto& entry : options.mix) {
        int k = static_cast<int>(entry.first);
        requests[k] = buildRequest(entry.first, options, token, index);
    }
    const std::vector<RequestKind> sequence = mixSequence(options.mix);
    size_t position = static_cast<size_t>(index) % sequence.size();
    Exchanger exchanger(endpoint, tls, options.timeoutMs, options.keepAlive);
    std::string response;
    response.reserve(4096);

    const bool byCount = options.requestCount > 0;
    while (!shared.stop.load(std::memory_order_relaxed)) {
        bool measuringAtStart = shared.measuring.load(std::memory_order_acquire);
        if (byCount && measuringAtStart && shared.claimed.fetch_add(1) >= options.requestCount)
            break;
        RequestKind kind = sequence[position];
        position = (position + 1) % sequence.size();
        int k = static_cast<int>(kind);

        auto started = Clock::now();
        ExchangeResult exchanged = exchanger.exchange(requests[k], response);
        auto finished = Clock::now();
        ErrorKind error = exchanged.error;
        std::string detail = exchanged.detail;
        if (error == ErrorKind::None) {
            ResponseCheck check = checkResponse(response, options.expectClass[k]);
            error = check.error;
            detail = check.detail;
        }
        // By count: the requests started once measuring began. By time: the
        // requests that end in the window, whenever they started, so slow
        // requests (a queue of logins) are counted at the steady rate.
        bool measured =
            byCount ? measuringAtStart : shared.measuring.load(std::memory_order_acquire);
        if (!measured)
            continue;
        if (tls && exchanged.error != ErrorKind::Connect &&
            exchanged.error != ErrorKind::Handshake) {
            ++out.tlsHandshakes;
            if (exchanged.resumed)
                ++out.resumedHandshakes;
        }
        KindResult& result = out.kinds[k];
        if (error != ErrorKind::None) {
            ++result.errors[static_cast<int>(error)];
            std::string& first = out.firstErrorDetail[static_cast<int>(error)];
            if (first.empty())
                first = std::string(requestKindName(kind)) + ": " + detail;
            continue;
        }
        int64_t finishedNanos =
            std::chrono::duration_cast<std::chrono::nanoseconds>(finished.time_since_epoch())
                .count();
        if (finishedNanos > shared.windowEndNanos.load(std::memory_order_relaxed))
            continue;
        ++result.ok;
        auto micros =
            std::chrono::duration_cast<std::chrono::microseconds>(finished - started).count();
        result.latencyMicros.push_back(static_cast<uint32_t>(
            std::min<long long>(micros, std::numeric_limits<uint32_t>::max())));
    }
}

void sleepSeconds(double seconds) {
    if (seconds > 0)
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

} // namespace

std::vector<RequestKind> mixSequence(const std::vector<std::pair<RequestKind, int>>& mix) {
    std::vector<RequestKind> sequence;
    for (const auto& entry : mix) {
        for (int i = 0; i < entry.second; ++i)
            sequence.push_back(entry.first);
    }
    if (sequence.empty())
        sequence.push_back(RequestKind::ServiceRoot);
    return sequence;
}

TokenOutcome obtainToken(const LoadOptions& options, const Endpoint& endpoint,
                         const TlsClientContext* tls) {
    TokenOutcome outcome;
    Exchanger exchanger(endpoint, tls, options.timeoutMs);
    std::string response;
    ExchangeResult exchanged =
        exchanger.exchange(buildRequest(RequestKind::Login, options, "", 0), response);
    if (exchanged.error != ErrorKind::None) {
        outcome.detail =
            std::string(errorKindName(exchanged.error)) + " error: " + exchanged.detail;
        return outcome;
    }
    ResponseCheck check =
        checkResponse(response, options.expectClass[static_cast<int>(RequestKind::Login)]);
    if (check.error != ErrorKind::None) {
        outcome.detail = check.detail;
        return outcome;
    }
    outcome.ok = true;
    outcome.token = responseHeader(response, "X-Auth-Token");
    outcome.detail = "status " + std::to_string(check.status);
    return outcome;
}

RunResult runLoad(const LoadOptions& options, const Endpoint& endpoint, const TlsClientContext* tls,
                  const std::string& token) {
    SharedState shared;
    std::vector<ClientResult> perClient(static_cast<size_t>(options.clients));
    std::vector<std::thread> threads;
    bool byCount = options.requestCount > 0;
    if (options.warmupSeconds <= 0)
        shared.measuring = true;
    RunResult run;
    if (options.serverPid > 0 && shared.measuring)
        run.serverBefore = sampleProcess(options.serverPid);
    auto measureStart = Clock::now();

    threads.reserve(perClient.size());
    for (int i = 0; i < options.clients; ++i) {
        threads.emplace_back(runClient, i, std::cref(options), std::cref(endpoint), tls,
                             std::cref(token), std::ref(shared), std::ref(perClient[i]));
    }
    if (options.warmupSeconds > 0) {
        sleepSeconds(options.warmupSeconds);
        if (options.serverPid > 0)
            run.serverBefore = sampleProcess(options.serverPid);
        measureStart = Clock::now();
        shared.measuring.store(true, std::memory_order_release);
    }
    if (!byCount) {
        sleepSeconds(options.durationSeconds);
        shared.windowEndNanos = nowNanos();
        run.elapsedSeconds = std::chrono::duration<double>(Clock::now() - measureStart).count();
        if (options.serverPid > 0)
            run.serverAfter = sampleProcess(options.serverPid);
        shared.stop = true;
    }
    for (std::thread& thread : threads)
        thread.join();
    if (byCount) {
        run.elapsedSeconds = std::chrono::duration<double>(Clock::now() - measureStart).count();
        if (options.serverPid > 0)
            run.serverAfter = sampleProcess(options.serverPid);
    }
    // Peak RSS is read last so it covers the whole run.
    if (options.serverPid > 0) {
        ProcessSample last = sampleProcess(options.serverPid);
        if (last.ok)
            run.serverAfter.peakRssKb = last.peakRssKb;
    }

    for (ClientResult& client : perClient) {
        for (int k = 0; k < kRequestKindCount; ++k) {
            KindResult& into = run.kinds[k];
            KindResult& from = client.kinds[k];
            into.ok += from.ok;
            for (int e = 0; e < kErrorKindCount; ++e)
                into.errors[e] += from.errors[e];
            into.latencyMicros.insert(into.latencyMicros.end(), from.latencyMicros.begin(),
                                      from.latencyMicros.end());
        }
        for (int e = 0; e < kErrorKindCount; ++e) {
            if (run.firstErrorDetail[e].empty())
                run.firstErrorDetail[e] = client.firstErrorDetail[e];
        }
        run.tlsHandshakes += client.tlsHandshakes;
        run.resumedHandshakes += client.resumedHandshakes;
    }
    return run;
}

} // namespace bench
