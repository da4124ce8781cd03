// The lane's thread priority on Windows: one step below normal request
// handling, put back afterwards (a thread may always raise its own again).
#include "session/loginthrottle.h"

#include <windows.h>

bool lanePriorityCanBeRestored() {
    return true;
}

bool lowerThreadPriority(int, int& saved) {
    saved = GetThreadPriority(GetCurrentThread());
    return saved != THREAD_PRIORITY_ERROR_RETURN &&
           SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL) != 0;
}

void restoreThreadPriority(int saved) {
    SetThreadPriority(GetCurrentThread(), saved);
}
