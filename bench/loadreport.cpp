#include "loadreport.h"

#include <cstdio>
#include <string>

namespace bench {

namespace {

std::string format(const char* fmt, double value) {
    char buf[64];
    std::snprintf(buf, sizeof buf, fmt, value);
    return buf;
}

std::string row(const std::string& name, uint64_t ok, uint64_t errors, double seconds,
                const LatencySummary& latency) {
    char buf[160];
    std::snprintf(buf, sizeof buf, "  %-7s %10llu %10.1f %9.2f %9.2f %9.2f %9llu\n", name.c_str(),
                  static_cast<unsigned long long>(ok),
                  seconds > 0 ? static_cast<double>(ok) / seconds : 0.0, latency.p50Ms,
                  latency.p99Ms, latency.maxMs, static_cast<unsigned long long>(errors));
    return buf;
}

std::string mixText(const LoadOptions& options) {
    std::string text;
    for (const auto& entry : options.mix) {
        if (!text.empty())
            text += ",";
        text += std::string(requestKindName(entry.first)) + "=" + std::to_string(entry.second);
    }
    return text;
}

} // namespace

RunFigures computeFigures(RunResult& run) {
    RunFigures figures;
    std::vector<uint32_t> all;
    for (KindResult& kind : run.kinds) {
        figures.ok += kind.ok;
        for (int e = 1; e < kErrorKindCount; ++e) {
            figures.errorsByKind[e] += kind.errors[e];
            figures.errors += kind.errors[e];
        }
        all.insert(all.end(), kind.latencyMicros.begin(), kind.latencyMicros.end());
    }
    figures.latency = summarizeLatencies(all);
    if (run.elapsedSeconds > 0)
        figures.requestsPerSecond = static_cast<double>(figures.ok) / run.elapsedSeconds;
    if (run.serverBefore.ok && run.serverAfter.ok) {
        figures.serverKnown = true;
        figures.peakRssKb = run.serverAfter.peakRssKb;
        figures.serverCpuSeconds = run.serverAfter.cpuSeconds - run.serverBefore.cpuSeconds;
        if (figures.ok > 0)
            figures.cpuMicrosPerRequest =
                figures.serverCpuSeconds * 1e6 / static_cast<double>(figures.ok);
    }
    return figures;
}

void printReport(std::ostream& out, const LoadOptions& options, RunResult& run,
                 const RunFigures& figures) {
    out << "tolvaneload" << (options.label.empty() ? "" : " [" + options.label + "]") << ": "
        << (options.tls ? "https://" : "http://") << options.host << ":" << options.port << ", "
        << options.clients << " clients, " << format("%.2f", run.elapsedSeconds)
        << " s measured, mix " << mixText(options) << "\n";
    out << "  kind            ok      req/s    p50 ms    p99 ms    max ms    errors\n";
    for (const auto& entry : options.mix) {
        KindResult& kind = run.kinds[static_cast<int>(entry.first)];
        uint64_t errors = 0;
        for (int e = 1; e < kErrorKindCount; ++e)
            errors += kind.errors[e];
        LatencySummary latency = summarizeLatencies(kind.latencyMicros);
        out << row(requestKindName(entry.first), kind.ok, errors, run.elapsedSeconds, latency);
    }
    if (options.mix.size() > 1)
        out << row("total", figures.ok, figures.errors, run.elapsedSeconds, figures.latency);
    out << "  errors:";
    for (int e = 1; e < kErrorKindCount; ++e)
        out << " " << errorKindName(static_cast<ErrorKind>(e)) << " " << figures.errorsByKind[e];
    out << "\n";
    for (int e = 1; e < kErrorKindCount; ++e) {
        if (figures.errorsByKind[e] > 0 && !run.firstErrorDetail[e].empty())
            out << "    first " << errorKindName(static_cast<ErrorKind>(e))
                << " error: " << run.firstErrorDetail[e] << "\n";
    }
    if (options.tls)
        out << "  TLS handshakes: " << run.tlsHandshakes << " (" << run.resumedHandshakes
            << " resumed)\n";
    if (options.serverPid > 0) {
        if (figures.serverKnown) {
            out << "  server pid " << options.serverPid << ": peak RSS " << figures.peakRssKb
                << " kB (VmHWM), CPU " << format("%.3f", figures.serverCpuSeconds) << " s, "
                << format("%.1f", figures.cpuMicrosPerRequest) << " us per request\n";
        } else {
            out << "  server pid " << options.serverPid
                << ": figures unavailable (the process ended or /proc is unreadable)\n";
        }
    }
}

void printKeyValue(std::ostream& out, const LoadOptions& options, const RunResult& run,
                   const RunFigures& figures) {
    out << "RESULT label=" << (options.label.empty() ? "-" : options.label)
        << " tls=" << (options.tls ? 1 : 0) << " clients=" << options.clients
        << " seconds=" << format("%.3f", run.elapsedSeconds) << " ok=" << figures.ok
        << " rps=" << format("%.1f", figures.requestsPerSecond)
        << " p50_ms=" << format("%.3f", figures.latency.p50Ms)
        << " p99_ms=" << format("%.3f", figures.latency.p99Ms)
        << " max_ms=" << format("%.3f", figures.latency.maxMs) << " errors=" << figures.errors;
    for (int e = 1; e < kErrorKindCount; ++e)
        out << " err_" << errorKindName(static_cast<ErrorKind>(e)) << "="
            << figures.errorsByKind[e];
    out << " handshakes=" << run.tlsHandshakes << " resumed=" << run.resumedHandshakes;
    if (figures.serverKnown)
        out << " rss_peak_kb=" << figures.peakRssKb
            << " cpu_us_per_req=" << format("%.1f", figures.cpuMicrosPerRequest);
    else
        out << " rss_peak_kb=- cpu_us_per_req=-";
    out << "\n";
}

} // namespace bench
