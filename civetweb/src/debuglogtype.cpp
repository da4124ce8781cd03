// The engine's debug log type: read by worker threads on every request, set
// once at start-up, hence atomic.
#include "civetweb_ext.h"

#include <atomic>

namespace {
std::atomic<int> gDebugLogType{0};
}

extern "C" void mg_set_debug_log_type(int type) {
    gDebugLogType.store((type == 4 || type == 5) ? type : 0);
}

extern "C" int mg_get_debug_log_type(void) {
    return gDebugLogType.load();
}
