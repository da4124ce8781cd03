// Identifier of the calling thread as the operating system numbers it, for
// trace records.
#ifndef TOLVANE_THREADID_H
#define TOLVANE_THREADID_H

#include <cstdint>

int32_t currentThreadId();

#endif
