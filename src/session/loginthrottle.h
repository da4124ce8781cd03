// Failed-login throttling, for session logins and Basic credentials alike.
// Three counts, each closing the way around the others:
// - per client address (an IPv6 /64 is one address, an IPv4-mapped IPv6
//   address its IPv4 one): past the allowed failures within the window the
//   address gets no attempt for a back-off period that doubles with each
//   repeat, up to a cap;
// - per user name (ASCII letter case ignored, as the plug-in matches names):
//   past the allowed failures, attempts at the name are spaced by an interval
//   that doubles with each further failure, up to a cap. Addresses that
//   logged in as that user recently are spared, so a flood of guesses slows
//   the guesser without locking the owner out;
// - globally: while failures spend more password hashes per second than the
//   budget, attempts from addresses without a recent success go one at a time
//   through a lane whose thread runs at a lower CPU priority than request
//   handling (LoginLane).
#ifndef TOLVANE_LOGINTHROTTLE_H
#define TOLVANE_LOGINTHROTTLE_H

#include <condition_variable>
#include <cstdint>
#include <list>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

struct LoginThrottlePolicy {
    // Per address.
    int allowedFailures = 5;        // failures within the window before blocking
    int64_t windowSeconds = 60;     // failures older than this are forgotten
    int64_t firstBlockSeconds = 60; // doubled for each block in a row
    int64_t maximumBlockSeconds = 15 * 60;
    size_t maximumAddresses = 10000; // addresses tracked; the stalest unblocked makes room
    // Per user name.
    int allowedNameFailures = 10;            // failures before attempts are spaced
    int64_t firstNameIntervalSeconds = 1;    // doubled for each further failure
    int64_t maximumNameIntervalSeconds = 30; // never more: a delay, not a lock-out
    int64_t nameQuietSeconds = 10 * 60;      // a name's failures older than this are forgotten
    int64_t trustSeconds = 24 * 60 * 60;     // a success spares its address this long
    size_t trustedAddressesPerName = 8;      // the most recent ones are kept
    size_t maximumNames = 10000;             // names tracked; the stalest makes room
    // Globally.
    int failureHashesPerSecond = 5; // failures per second before strangers take the lane
    int64_t laneCalmSeconds = 10;   // the lane stays this long after the budget was exceeded
    int laneWaiting = 4;            // attempts that may queue for the lane; more are refused
    int laneNiceIncrement = 10;     // how much lower a thread checking a password runs
};

class LoginLane;

class LoginThrottle {
  public:
    explicit LoginThrottle(LoginThrottlePolicy policy = LoginThrottlePolicy()) : policy_(policy) {}

    // Seconds the attempt from `address` at `user` must still wait before it
    // is tried (0: go on). An attempt let through takes the name's turn, so
    // concurrent guesses at one name cannot all pass at once. `user` may be
    // empty (a login body naming none): only the address counts.
    int64_t blockedFor(const std::string& address, const std::string& user, int64_t now);
    // The plug-in refused the attempt (401).
    void recordFailure(const std::string& address, const std::string& user, int64_t now);
    // The plug-in accepted it: the address is spared the name's spacing and
    // the lane for a while.
    void recordSuccess(const std::string& address, const std::string& user, int64_t now);

    void clear();
    size_t entryCount();

  private:
    friend class LoginLane;
    struct AddressEntry {
        int failures = 0;
        int64_t windowStart = 0;
        int64_t blockedUntil = 0;
        int blocks = 0;           // blocks in a row; sets the next period
        int64_t lastBlockEnd = 0; // the run of blocks ends a window after the last
        int64_t lastSeen = 0;
    };
    struct NameEntry {
        int failures = 0;
        int64_t lastFailure = 0;
        int64_t nextAttempt = 0; // earliest turn of an address not trusted
        std::vector<std::pair<std::string, int64_t>> trusted; // address key, last success
        int64_t lastSeen = 0;
    };
    int64_t nameInterval(int failures) const; // spacing after `failures`
    bool trusts(const NameEntry& e, const std::string& addressKey, int64_t now) const;
    bool trustedLocked(const std::string& address, const std::string& user, int64_t now);
    bool roomForAddress(int64_t now);
    NameEntry& nameEntry(const std::string& name, int64_t now);
    void countAgainstBudget(int64_t now);

    LoginThrottlePolicy policy_;
    std::mutex mutex_;
    std::unordered_map<std::string, AddressEntry> addresses_;
    std::unordered_map<std::string, NameEntry> names_;
    int64_t fullOfBlockedUntil_ = 0; // no address can be tracked before this
    int64_t budgetSecond_ = 0;
    int budgetSpent_ = 0;
    int64_t laneUntil_ = 0; // strangers take the lane until this
    // The lane.
    std::condition_variable laneFree_;
    bool laneTaken_ = false;
    int laneQueue_ = 0;
};

// An attempt that costs a password hash runs at a lower CPU priority until
// the guard ends, so the requests beside it keep their pace; while failures
// are over the budget, one from an address without a recent success as the
// user also waits here for its turn. When `mayWait` is false (the thread holds
// a lock that already takes calls one at a time) neither happens: a slower
// holder would hold up every other request.
class LoginLane {
  public:
    LoginLane(LoginThrottle& throttle, const std::string& address, const std::string& user,
              int64_t now, bool mayWait = true);
    ~LoginLane();
    LoginLane(const LoginLane&) = delete;
    LoginLane& operator=(const LoginLane&) = delete;

    // False: too many attempts wait for the lane already; try nothing, answer
    // 429 with a short Retry-After.
    bool admitted() const { return admitted_; }
    // Whether this attempt runs in the lane.
    bool inLane() const { return inLane_; }
    // Ends the lane before the guard does (once the password is checked).
    void leave();

  private:
    LoginThrottle& throttle_;
    bool admitted_ = true;
    bool inLane_ = false;
    int savedPriority_ = 0;
    bool priorityLowered_ = false;
};

// Whether this thread's CPU priority may be lowered and put back again (it
// may not without the right to raise it, and then the lane only orders).
bool lanePriorityCanBeRestored();
// Lowers the calling thread's CPU priority by `steps` when it can be put back;
// `saved` is what restoreThreadPriority() then takes. Each system's own file.
bool lowerThreadPriority(int steps, int& saved);
void restoreThreadPriority(int saved);

// The user name a login body names, as the plug-in reads it; "" when it
// names none.
std::string loginBodyUserName(const std::string& body);

// The one throttle of the process.
LoginThrottle& loginThrottle();

#endif
