// Failed-login throttling by client address: past the allowed failures within
// the window, the address gets no login attempt at all for a back-off period
// that doubles with each repeat, up to a cap.
#ifndef TOLVANE_LOGINTHROTTLE_H
#define TOLVANE_LOGINTHROTTLE_H

#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>

struct LoginThrottlePolicy {
    int allowedFailures = 5;        // failures within the window before blocking
    int64_t windowSeconds = 60;     // failures older than this are forgotten
    int64_t firstBlockSeconds = 60; // doubled for each block in a row
    int64_t maximumBlockSeconds = 15 * 60;
    size_t maximumAddresses = 10000; // addresses tracked; quiet ones make room
};

class LoginThrottle {
  public:
    explicit LoginThrottle(LoginThrottlePolicy policy = LoginThrottlePolicy()) : policy_(policy) {}

    // Seconds the address must still wait before a login is tried (0: go on).
    int64_t blockedFor(const std::string& address, int64_t now);
    // A login from the address was refused by the plug-in (401).
    void recordFailure(const std::string& address, int64_t now);

    void clear();
    size_t entryCount();

  private:
    struct Entry {
        int failures = 0;
        int64_t windowStart = 0;
        int64_t blockedUntil = 0;
        int blocks = 0;           // blocks in a row; sets the next period
        int64_t lastBlockEnd = 0; // the run of blocks ends a window after the last
    };
    void makeRoom(int64_t now);

    LoginThrottlePolicy policy_;
    std::mutex mutex_;
    std::unordered_map<std::string, Entry> entries_;
};

// The one throttle of the process.
LoginThrottle& loginThrottle();

#endif
