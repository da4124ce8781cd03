#include "logging/linebudget.h"

#include <utility>

namespace logtext {

LineBudget::LineBudget(unsigned perKey, unsigned total, int64_t windowSeconds, size_t maxKeys)
    : perKey_(perKey), total_(total), window_(windowSeconds), maxKeys_(maxKeys) {
    all_.windowStart = INT64_MIN / 2;
}

void LineBudget::prune(int64_t now) {
    for (auto it = entries_.begin(); it != entries_.end();) {
        if (now - it->second.windowStart < window_) {
            ++it;
            continue;
        }
        others_ += it->second.suppressed;
        it = entries_.erase(it);
    }
}

LineBudget::Verdict LineBudget::admit(const std::string& key, int64_t now) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (now - all_.windowStart >= window_)
        all_ = Entry{now, 0, 0};
    auto it = entries_.find(key);
    if (it == entries_.end()) {
        if (entries_.size() >= maxKeys_)
            prune(now);
        if (entries_.size() >= maxKeys_) {
            ++others_;
            return Verdict{};
        }
        it = entries_.emplace(key, Entry{now, 0, 0}).first;
    }
    Entry& entry = it->second;
    if (now - entry.windowStart >= window_) {
        entry.windowStart = now;
        entry.lines = 0;
    }
    if (entry.lines >= perKey_ || all_.lines >= total_) {
        ++entry.suppressed;
        return Verdict{};
    }
    ++entry.lines;
    ++all_.lines;
    Verdict verdict;
    verdict.write = true;
    verdict.suppressed = std::exchange(entry.suppressed, 0);
    verdict.suppressedOthers = std::exchange(others_, 0);
    return verdict;
}

} // namespace logtext
