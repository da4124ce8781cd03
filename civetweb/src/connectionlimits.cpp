#include "connectionlimits.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// A connection that has not authenticated, and since when its current
// request has been awaited.
struct Waiting {
    std::intptr_t sock;
    std::string address;
    Clock::time_point since;
};

struct ContextLimits {
    ConnectionLimits limits;
    std::unordered_map<std::string, int> open; // per client address
    std::vector<Waiting> waiting;
    // Addresses whose clients authenticated lately, and when: a flood of
    // strangers from many addresses fills the waiting places, and these must
    // still get in to log in again.
    std::unordered_map<std::string, Clock::time_point> proven;
};

constexpr auto kProvenFor = std::chrono::hours(24);
constexpr std::size_t kMaxProvenAddresses = 4096;

bool isProven(const ContextLimits& c, const std::string& address) {
    auto found = c.proven.find(address);
    return found != c.proven.end() && Clock::now() - found->second < kProvenFor;
}

// The oldest waiting connection of an address that has not proven itself.
std::vector<Waiting>::iterator oldestStranger(ContextLimits& c) {
    auto oldest = c.waiting.end();
    for (auto it = c.waiting.begin(); it != c.waiting.end(); ++it)
        if (!isProven(c, it->address) && (oldest == c.waiting.end() || it->since < oldest->since))
            oldest = it;
    return oldest;
}

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

namespace {
// With the waiting connections at their cap, a newcomer from `address` takes
// the place of the oldest waiting connection of the address that holds the
// most, provided that address holds more than the newcomer's. A client that
// opens a connection or two thus always gets in (its own are young, so they
// are not the ones to go), while an address that opens many waits for its
// own to end. A proven address's connections never make room for a stranger.
// End: the newcomer is refused.
std::vector<Waiting>::iterator makeRoom(ContextLimits& c, const std::string& address) {
    std::unordered_map<std::string, int> held;
    int most = 0;
    for (const Waiting& w : c.waiting)
        if (!isProven(c, w.address))
            most = std::max(most, ++held[w.address]);
    const int mine = held[address];
    if (most <= mine)
        return c.waiting.end();
    auto oldest = c.waiting.end();
    for (auto it = c.waiting.begin(); it != c.waiting.end(); ++it)
        if (held[it->address] == most && !isProven(c, it->address) &&
            (oldest == c.waiting.end() || it->since < oldest->since))
            oldest = it;
    return oldest;
}

std::vector<Waiting>::iterator waitingEntry(ContextLimits& limits, std::intptr_t sock) {
    return std::find_if(limits.waiting.begin(), limits.waiting.end(),
                        [sock](const Waiting& w) { return w.sock == sock; });
}

ContextLimits* limitsOf(const struct mg_context* ctx) {
    auto found = registry().find(ctx);
    return found == registry().end() ? nullptr : &found->second;
}
} // namespace

// Called by the engine's listening thread for every accepted connection: 1
// admits it (and counts it), 0 has it closed at once. A waiting connection
// that must make room is ended through `endSocket`, under the lock, so its
// worker cannot have closed the socket (and the number been reused) first.
extern "C" int tolvane_client_connection_admit(const struct mg_context* ctx, const char* address,
                                               std::intptr_t sock,
                                               void (*endSocket)(std::intptr_t sock)) {
    std::lock_guard<std::mutex> lock(registryMutex());
    ContextLimits* c = limitsOf(ctx);
    if (c == nullptr)
        return 1;
    const int perClient = c->limits.connectionsPerClient;
    if (perClient > 0 && c->open.count(address) != 0 && c->open[address] >= perClient)
        return 0;
    const auto cap = static_cast<std::size_t>(std::max(c->limits.waitingConnections, 0));
    if (cap > 0 && c->waiting.size() >= cap) {
        // A proven address takes a stranger's place, or comes in over the cap
        // when there is none (their number is bounded by the per-address cap).
        const bool proven = isProven(*c, address);
        auto room = proven ? oldestStranger(*c) : makeRoom(*c, address);
        if (room == c->waiting.end() && !proven)
            return 0;
        if (room != c->waiting.end()) {
            endSocket(room->sock);
            c->waiting.erase(room);
        }
    }
    if (perClient > 0)
        ++c->open[address];
    c->waiting.push_back(Waiting{sock, address, Clock::now()});
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

// A further request on a waiting connection: its time starts again.
extern "C" void tolvane_waiting_restart(const struct mg_context* ctx, std::intptr_t sock) {
    std::lock_guard<std::mutex> lock(registryMutex());
    if (ContextLimits* c = limitsOf(ctx)) {
        auto entry = waitingEntry(*c, sock);
        if (entry != c->waiting.end())
            entry->since = Clock::now();
    }
}

// A client at `address` authenticated.
extern "C" void tolvane_address_proven(const struct mg_context* ctx, const char* address) {
    std::lock_guard<std::mutex> lock(registryMutex());
    ContextLimits* c = limitsOf(ctx);
    if (c == nullptr || address == nullptr)
        return;
    if (c->proven.size() >= kMaxProvenAddresses && c->proven.count(address) == 0) {
        auto stalest =
            std::min_element(c->proven.begin(), c->proven.end(),
                             [](const auto& a, const auto& b) { return a.second < b.second; });
        c->proven.erase(stalest);
    }
    c->proven[address] = Clock::now();
}

// The connection authenticated or is about to close.
extern "C" void tolvane_waiting_forget(const struct mg_context* ctx, std::intptr_t sock) {
    std::lock_guard<std::mutex> lock(registryMutex());
    if (ContextLimits* c = limitsOf(ctx)) {
        auto entry = waitingEntry(*c, sock);
        if (entry != c->waiting.end())
            c->waiting.erase(entry);
    }
}

// Milliseconds left of a waiting connection's head deadline (0 when used
// up); -1 when it does not wait or no deadline is set.
extern "C" int tolvane_waiting_ms_left(const struct mg_context* ctx, std::intptr_t sock) {
    std::lock_guard<std::mutex> lock(registryMutex());
    ContextLimits* c = limitsOf(ctx);
    if (c == nullptr || c->limits.requestHeadTimeoutMs <= 0)
        return -1;
    auto entry = waitingEntry(*c, sock);
    if (entry == c->waiting.end())
        return -1;
    const auto used =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - entry->since).count();
    return static_cast<int>(std::max<long long>(c->limits.requestHeadTimeoutMs - used, 0));
}

std::size_t waitingBodyBytes(const struct mg_context* ctx) {
    std::lock_guard<std::mutex> lock(registryMutex());
    const ContextLimits* c = limitsOf(ctx);
    return c == nullptr ? 0 : c->limits.waitingBodyBytes;
}
