#include "session/loginthrottle.h"

#include <algorithm>
#include <cstring>
#include <limits>

#if defined(_WIN32)
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#endif
#if defined(__linux__)
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <thread>
#endif

#include "jsonadapter.h"

namespace {

// The address as the throttle counts it: an IPv6 address by its /64 (one
// host's share of a network), an IPv4-mapped one as its IPv4 address.
std::string addressKey(const std::string& address) {
    std::string text = address;
    if (text.size() > 1 && text.front() == '[' && text.back() == ']')
        text = text.substr(1, text.size() - 2);
    text = text.substr(0, text.find('%')); // a zone names the link, not the host
    unsigned char bytes[16];
    if (inet_pton(AF_INET6, text.c_str(), bytes) != 1)
        return address;
    static const unsigned char kMapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    if (std::memcmp(bytes, kMapped, sizeof kMapped) == 0)
        return std::to_string(bytes[12]) + "." + std::to_string(bytes[13]) + "." +
               std::to_string(bytes[14]) + "." + std::to_string(bytes[15]);
    static const char kHex[] = "0123456789abcdef";
    std::string key;
    for (int i = 0; i < 8; ++i) {
        key += kHex[bytes[i] >> 4];
        key += kHex[bytes[i] & 15];
        if (i % 2 == 1)
            key += ':';
    }
    return key + ":/64";
}

// The name as the plug-in matches it: ASCII case ignored.
std::string nameKey(const std::string& user) {
    std::string key;
    for (char ch : user)
        key += (ch >= 'A' && ch <= 'Z') ? static_cast<char>(ch - 'A' + 'a') : ch;
    return key;
}

} // namespace

int64_t LoginThrottle::blockedFor(const std::string& address, const std::string& user,
                                  int64_t now) {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::string key = addressKey(address);
    int64_t wait = 0;
    auto it = addresses_.find(key);
    if (it != addresses_.end())
        wait = std::max<int64_t>(0, it->second.blockedUntil - now);
    else if (!roomForAddress(now) && !trustedLocked(address, user, now))
        wait = fullOfBlockedUntil_ - now; // every entry is blocked: newcomers wait too
    auto name = names_.find(nameKey(user));
    if (user.empty() || name == names_.end() || trusts(name->second, key, now))
        return wait;
    NameEntry& n = name->second;
    if (now - n.lastFailure >= policy_.nameQuietSeconds)
        n.failures = 0;
    wait = std::max(wait, n.nextAttempt - now);
    if (wait > 0)
        return wait;
    // This attempt takes the name's turn; the next waits as long as a failure
    // of this one would make it.
    n.nextAttempt = now + nameInterval(n.failures + 1);
    return 0;
}

void LoginThrottle::recordFailure(const std::string& address, const std::string& user,
                                  int64_t now) {
    std::lock_guard<std::mutex> lock(mutex_);
    countAgainstBudget(now);
    if (!user.empty()) {
        NameEntry& n = nameEntry(nameKey(user), now);
        if (now - n.lastFailure >= policy_.nameQuietSeconds)
            n.failures = 0;
        ++n.failures;
        n.lastFailure = now;
        n.nextAttempt = std::max(n.nextAttempt, now + nameInterval(n.failures));
    }
    const std::string key = addressKey(address);
    if (addresses_.find(key) == addresses_.end() && !roomForAddress(now))
        return; // every entry is blocked: blockedFor() holds newcomers back
    AddressEntry& e = addresses_[key];
    e.lastSeen = now;
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

void LoginThrottle::recordSuccess(const std::string& address, const std::string& user,
                                  int64_t now) {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::string key = addressKey(address);
    auto it = addresses_.find(key);
    if (it != addresses_.end())
        it->second.failures = 0;
    if (user.empty())
        return;
    NameEntry& n = nameEntry(nameKey(user), now);
    auto known = std::find_if(n.trusted.begin(), n.trusted.end(),
                              [&](const auto& t) { return t.first == key; });
    if (known != n.trusted.end())
        n.trusted.erase(known);
    else if (n.trusted.size() >= policy_.trustedAddressesPerName)
        n.trusted.erase(n.trusted.begin()); // the longest unused
    n.trusted.emplace_back(key, now);
}

int64_t LoginThrottle::nameInterval(int failures) const {
    if (failures <= policy_.allowedNameFailures)
        return 0;
    int64_t interval = policy_.firstNameIntervalSeconds;
    for (int i = policy_.allowedNameFailures + 1;
         i < failures && interval < policy_.maximumNameIntervalSeconds; ++i)
        interval *= 2;
    return std::min(interval, policy_.maximumNameIntervalSeconds);
}

bool LoginThrottle::trusts(const NameEntry& e, const std::string& key, int64_t now) const {
    return std::any_of(e.trusted.begin(), e.trusted.end(), [&](const auto& t) {
        return t.first == key && now - t.second < policy_.trustSeconds;
    });
}

bool LoginThrottle::trustedLocked(const std::string& address, const std::string& user,
                                  int64_t now) {
    auto name = names_.find(nameKey(user));
    return !user.empty() && name != names_.end() && trusts(name->second, addressKey(address), now);
}

bool LoginThrottle::roomForAddress(int64_t now) {
    if (addresses_.size() < policy_.maximumAddresses)
        return true;
    if (fullOfBlockedUntil_ > now)
        return false;
    // The stalest entry that blocks nothing makes room; a blocked address is
    // never forgotten, or a flood of addresses would set it free.
    auto stalest = addresses_.end();
    int64_t firstUnblock = std::numeric_limits<int64_t>::max();
    for (auto it = addresses_.begin(); it != addresses_.end(); ++it) {
        const AddressEntry& e = it->second;
        if (e.blockedUntil > now)
            firstUnblock = std::min(firstUnblock, e.blockedUntil);
        else if (stalest == addresses_.end() || e.lastSeen < stalest->second.lastSeen)
            stalest = it;
    }
    if (stalest == addresses_.end()) {
        fullOfBlockedUntil_ = firstUnblock;
        return false;
    }
    addresses_.erase(stalest);
    return true;
}

LoginThrottle::NameEntry& LoginThrottle::nameEntry(const std::string& name, int64_t now) {
    auto it = names_.find(name);
    if (it == names_.end() && names_.size() >= policy_.maximumNames) {
        // The stalest name makes room, one that spares no address if any:
        // made-up names must not push out what the owners' logins earned.
        auto stalest = names_.end();
        auto older = [&](auto a, auto b) {
            const bool aTrusts = !a->second.trusted.empty(), bTrusts = !b->second.trusted.empty();
            return aTrusts != bTrusts ? !aTrusts : a->second.lastSeen < b->second.lastSeen;
        };
        for (auto candidate = names_.begin(); candidate != names_.end(); ++candidate) {
            if (stalest == names_.end() || older(candidate, stalest))
                stalest = candidate;
        }
        names_.erase(stalest);
    }
    NameEntry& n = names_[name];
    n.lastSeen = now;
    return n;
}

void LoginThrottle::countAgainstBudget(int64_t now) {
    if (now != budgetSecond_) {
        budgetSecond_ = now;
        budgetSpent_ = 0;
    }
    if (++budgetSpent_ > policy_.failureHashesPerSecond)
        laneUntil_ = now + policy_.laneCalmSeconds;
}

void LoginThrottle::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    addresses_.clear();
    names_.clear();
    fullOfBlockedUntil_ = 0;
    budgetSpent_ = 0;
    laneUntil_ = 0;
}

size_t LoginThrottle::entryCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    return addresses_.size();
}

LoginLane::LoginLane(LoginThrottle& throttle, const std::string& address, const std::string& user,
                     int64_t now, bool mayWait)
    : throttle_(throttle) {
    std::unique_lock<std::mutex> lock(throttle.mutex_);
    if (!mayWait)
        return;
    if (now >= throttle.laneUntil_ || throttle.trustedLocked(address, user, now)) {
        lock.unlock();
        // Every password check yields the CPU to the requests beside it.
        priorityLowered_ = lowerThreadPriority(throttle.policy_.laneNiceIncrement, savedPriority_);
        return;
    }
    if (throttle.laneTaken_) {
        if (throttle.laneQueue_ >= throttle.policy_.laneWaiting) {
            admitted_ = false;
            return;
        }
        ++throttle.laneQueue_;
        throttle.laneFree_.wait(lock, [&] { return !throttle.laneTaken_; });
        --throttle.laneQueue_;
    }
    throttle.laneTaken_ = true;
    inLane_ = true;
    lock.unlock();
    priorityLowered_ = lowerThreadPriority(throttle.policy_.laneNiceIncrement, savedPriority_);
}

LoginLane::~LoginLane() {
    leave();
}

void LoginLane::leave() {
    if (priorityLowered_)
        restoreThreadPriority(savedPriority_);
    priorityLowered_ = false;
    if (!inLane_)
        return;
    inLane_ = false;
    {
        std::lock_guard<std::mutex> lock(throttle_.mutex_);
        throttle_.laneTaken_ = false;
    }
    throttle_.laneFree_.notify_one();
}

std::string loginBodyUserName(const std::string& body) {
    json::Value object;
    if (!json::tryParseObject(body, object))
        return "";
    const json::Value name = object.value("UserName", json::Value());
    return name.is_string() ? name.get<std::string>() : "";
}

LoginThrottle& loginThrottle() {
    static LoginThrottle throttle;
    return throttle;
}

#if defined(__linux__)
// A thread's nice value on Linux is its own: PRIO_PROCESS with the thread's id.
namespace {
pid_t threadId() {
    return static_cast<pid_t>(syscall(SYS_gettid));
}
} // namespace

bool lanePriorityCanBeRestored() {
    // Raising a priority back needs a right the process may lack; a scratch
    // thread tries once, so no worker is ever left running slower.
    static const bool restorable = [] {
        bool ok = false;
        std::thread probe([&] {
            errno = 0;
            const int before = getpriority(PRIO_PROCESS, threadId());
            ok = errno == 0 && before < 19 &&
                 setpriority(PRIO_PROCESS, threadId(), before + 1) == 0 &&
                 setpriority(PRIO_PROCESS, threadId(), before) == 0;
        });
        probe.join();
        return ok;
    }();
    return restorable;
}

bool lowerThreadPriority(int steps, int& saved) {
    if (!lanePriorityCanBeRestored())
        return false;
    errno = 0;
    saved = getpriority(PRIO_PROCESS, threadId());
    return errno == 0 && setpriority(PRIO_PROCESS, threadId(), std::min(saved + steps, 19)) == 0;
}

void restoreThreadPriority(int saved) {
    setpriority(PRIO_PROCESS, threadId(), saved);
}
#elif !defined(_WIN32)
// Elsewhere a nice value belongs to the whole process: the lane only orders.
bool lanePriorityCanBeRestored() {
    return false;
}
bool lowerThreadPriority(int, int&) {
    return false;
}
void restoreThreadPriority(int) {}
#endif
