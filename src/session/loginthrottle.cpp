#include "session/loginthrottle.h"

#include <algorithm>

int64_t LoginThrottle::blockedFor(const std::string& address, int64_t now) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = entries_.find(address);
    if (it == entries_.end() || it->second.blockedUntil <= now)
        return 0;
    return it->second.blockedUntil - now;
}

void LoginThrottle::recordFailure(const std::string& address, int64_t now) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (entries_.find(address) == entries_.end())
        makeRoom(now);
    Entry& e = entries_[address];
    if (e.blockedUntil > now)
        return; // no attempt reaches the plug-in while blocked
    if (e.failures == 0 || now - e.windowStart >= policy_.windowSeconds) {
        e.failures = 0;
        e.windowStart = now;
    }
    if (++e.failures <= policy_.allowedFailures)
        return;
    // A quiet spell of a whole window after the last block starts over.
    if (e.blocks > 0 && now - e.lastBlockEnd >= policy_.windowSeconds)
        e.blocks = 0;
    int64_t period = policy_.firstBlockSeconds;
    for (int i = 0; i < e.blocks && period < policy_.maximumBlockSeconds; ++i)
        period *= 2;
    period = std::min(period, policy_.maximumBlockSeconds);
    ++e.blocks;
    e.blockedUntil = now + period;
    e.lastBlockEnd = e.blockedUntil;
    e.failures = 0;
}

void LoginThrottle::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.clear();
}

void LoginThrottle::makeRoom(int64_t now) {
    if (entries_.size() < policy_.maximumAddresses)
        return;
    // Forget addresses that are neither blocked nor counting failures; a
    // flood of addresses must not grow the table without bound.
    for (auto it = entries_.begin(); it != entries_.end();) {
        const Entry& e = it->second;
        const bool quiet = e.blockedUntil <= now && now - e.windowStart >= policy_.windowSeconds &&
                           now - e.lastBlockEnd >= policy_.windowSeconds;
        it = quiet ? entries_.erase(it) : std::next(it);
    }
    if (entries_.size() >= policy_.maximumAddresses)
        entries_.erase(entries_.begin());
}

size_t LoginThrottle::entryCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    return entries_.size();
}

LoginThrottle& loginThrottle() {
    static LoginThrottle throttle;
    return throttle;
}
