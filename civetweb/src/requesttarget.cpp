// The engine's verdict on each request's raw path, kept with the request's
// information record: every connection has one record, reused for each of its
// requests, so the set stays as small as the number of connections.
#include <mutex>
#include <unordered_set>

#include "civetweb.h"

namespace {

std::mutex& targetsMutex() {
    static std::mutex* mutex = new std::mutex; // outlives exit-time parsing
    return *mutex;
}

std::unordered_set<const void*>& unsafeTargets() {
    static auto* set = new std::unordered_set<const void*>;
    return *set;
}

} // namespace

extern "C" void tolvane_note_request_target(const void* requestInfo, int unsafe) {
    std::lock_guard<std::mutex> lock(targetsMutex());
    if (unsafe)
        unsafeTargets().insert(requestInfo);
    else
        unsafeTargets().erase(requestInfo);
}

extern "C" int tolvane_request_target_unsafe(const struct mg_request_info* requestInfo) {
    std::lock_guard<std::mutex> lock(targetsMutex());
    return unsafeTargets().count(requestInfo) != 0;
}
