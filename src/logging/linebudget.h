// How many lines a source of unauthenticated traffic may write: per key (a
// client address) and in all, per time window. What is left out is counted
// and reported with the next line that is let through, so a flood shows in
// the log as a few lines and a number instead of washing the log away.
#ifndef TOLVANE_LINEBUDGET_H
#define TOLVANE_LINEBUDGET_H

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>

namespace logtext {

class LineBudget {
  public:
    struct Verdict {
        bool write = false;
        uint64_t suppressed = 0;       // lines of this key left out before this one
        uint64_t suppressedOthers = 0; // lines of keys no longer tracked, or never
    };

    // `perKey` lines per key and `total` in all per `windowSeconds`; at most
    // `maxKeys` keys are tracked, so rotating addresses cannot grow the table.
    LineBudget(unsigned perKey, unsigned total, int64_t windowSeconds, size_t maxKeys);
    Verdict admit(const std::string& key, int64_t now);

  private:
    struct Entry {
        int64_t windowStart = 0;
        unsigned lines = 0;
        uint64_t suppressed = 0;
    };
    // Forgets keys whose window has ended, keeping their counts in others_.
    void prune(int64_t now);

    const unsigned perKey_;
    const unsigned total_;
    const int64_t window_;
    const size_t maxKeys_;
    std::mutex mutex_;
    std::unordered_map<std::string, Entry> entries_;
    Entry all_;
    uint64_t others_ = 0;
};

} // namespace logtext

#endif
