// Windows: the thread id the system shows in its tools.
#include "threadid.h"

#include <windows.h>

int32_t currentThreadId() {
    return static_cast<int32_t>(GetCurrentThreadId());
}
