#include "connectionlimits.h"

#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace {

struct ContextLimits {
    ConnectionLimits limits;
    std::unordered_map<std::string, int> open; // per client address
};

std::mutex& registryMutex() {
    static std::mutex instance;
    return instance;
}

std::map<const struct mg_context*, ContextLimits>& registry() {
    static std::map<const struct mg_context*, ContextLimits> instance;
    return instance;
}

} // namespace

void registerConnectionLimits(const struct mg_context* ctx, const ConnectionLimits& limits) {
    std::lock_guard<std::mutex> lock(registryMutex());
    registry()[ctx].limits = limits;
}

void unregisterConnectionLimits(const struct mg_context* ctx) {
    std::lock_guard<std::mutex> lock(registryMutex());
    registry().erase(ctx);
}

int openConnectionsOf(const struct mg_context* ctx, const std::string& address) {
    std::lock_guard<std::mutex> lock(registryMutex());
    auto found = registry().find(ctx);
    if (found == registry().end())
        return 0;
    auto count = found->second.open.find(address);
    return count == found->second.open.end() ? 0 : count->second;
}

// Called by the engine's listening thread for every accepted connection: 1
// admits it (and counts it), 0 has it closed at once.
extern "C" int tolvane_client_connection_admit(const struct mg_context* ctx, const char* address) {
    std::lock_guard<std::mutex> lock(registryMutex());
    auto found = registry().find(ctx);
    if (found == registry().end() || found->second.limits.connectionsPerClient <= 0)
        return 1;
    int& open = found->second.open[address];
    if (open >= found->second.limits.connectionsPerClient)
        return 0;
    ++open;
    return 1;
}

// Called by a worker once an admitted connection is closed.
extern "C" void tolvane_client_connection_release(const struct mg_context* ctx,
                                                  const char* address) {
    std::lock_guard<std::mutex> lock(registryMutex());
    auto found = registry().find(ctx);
    if (found == registry().end())
        return;
    auto count = found->second.open.find(address);
    // A connection admitted before the limits were registered was not counted.
    if (count == found->second.open.end())
        return;
    if (--count->second <= 0)
        found->second.open.erase(count);
}

// The request head's deadline in milliseconds (0: none of its own).
extern "C" int tolvane_request_head_timeout_ms(const struct mg_context* ctx) {
    std::lock_guard<std::mutex> lock(registryMutex());
    auto found = registry().find(ctx);
    return found == registry().end() ? 0 : found->second.limits.requestHeadTimeoutMs;
}
