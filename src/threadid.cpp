// POSIX: the kernel's thread id where there is one, else a hash of pthread_self.
#include "threadid.h"

#if defined(__linux__)
#include <sys/syscall.h>
#include <unistd.h>
#else
#include <pthread.h>
#include <functional>
#include <thread>
#endif

int32_t currentThreadId() {
#if defined(__linux__)
    return static_cast<int32_t>(syscall(SYS_gettid));
#else
    return static_cast<int32_t>(std::hash<std::thread::id>()(std::this_thread::get_id()));
#endif
}
