#include "plugincall/resourcelock.h"

#include <mutex>
#include <unordered_map>

#include "gate/requestpath.h"

struct ResourceChangeLock::Entry {
    std::mutex change;
    int users = 0; // holders and waiters; the entry goes with the last
};

namespace {

std::mutex& registryMutex() {
    static std::mutex instance;
    return instance;
}

std::unordered_map<std::string, std::shared_ptr<ResourceChangeLock::Entry>>& registry() {
    static std::unordered_map<std::string, std::shared_ptr<ResourceChangeLock::Entry>> instance;
    return instance;
}

std::string keyOf(const std::string& uri) {
    std::string key = canonicalPath(uri);
    for (char& c : key)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return key;
}

} // namespace

ResourceChangeLock::ResourceChangeLock(const std::string& uri) : key_(keyOf(uri)) {
    {
        std::lock_guard<std::mutex> lock(registryMutex());
        std::shared_ptr<Entry>& slot = registry()[key_];
        if (!slot)
            slot = std::make_shared<Entry>();
        ++slot->users;
        entry_ = slot;
    }
    entry_->change.lock();
}

ResourceChangeLock::~ResourceChangeLock() {
    entry_->change.unlock();
    std::lock_guard<std::mutex> lock(registryMutex());
    if (--entry_->users == 0)
        registry().erase(key_);
}
