// The configuration reader: any text either applies or leaves the settings
// untouched, and applying the same text twice changes nothing more.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string_view>
#include <tuple>

#include "redfishserver/serverconfig.h"

namespace {

auto fields(const ServerConfiguration& c) {
    return std::tie(
        c.CommunicationProtocolHttps, c.CommunicationProtocolHttp, c.CommunicationPortHttps,
        c.CommunicationPortHttp, c.SkipAuthentication, c.OsEventLoggingLevel, c.SessionTimeout,
        c.MaximumNumberOfConcurrentSessions, c.MaximumNumberOfEventSubscriptions,
        c.MaximumEventDeliveryRetry, c.WatchdogTimeout, c.SsdpAdvertisement, c.SystemAlarmEnabled,
        c.CommunicationHostAddressHttps, c.CommunicationHostAddressHttp, c.CurlEventDelivery,
        c.RedfishDebugMask, c.rollingSize, c.rollingCount, c.MaximumRequestBodySize);
}

bool same(const ServerConfiguration& a, const ServerConfiguration& b) {
    return fields(a) == fields(b);
}

void check(bool cond, const char* what) {
    if (!cond) {
        std::fprintf(stderr, "fuzz_config: %s\n", what);
        __builtin_trap();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    // Start from values no text is likely to give, so a partial write shows.
    ServerConfiguration cfg;
    cfg.CommunicationPortHttps = -7;
    cfg.CommunicationHostAddressHttp = "before";
    cfg.rollingCount = 12345;
    const ServerConfiguration before = cfg;
    if (!applyServerConfiguration(text, cfg)) {
        check(same(cfg, before), "a rejected text changed the settings");
        return 0;
    }
    ServerConfiguration twice = cfg;
    check(applyServerConfiguration(text, twice), "an accepted text was rejected the second time");
    check(same(twice, cfg), "applying the same text twice gave other settings");
    return 0;
}
