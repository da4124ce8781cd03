#include "logging/logplatform.h"

#if !defined(_WIN32)

#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

bool openFileSize(std::FILE* file, int64_t& size) {
    struct stat st {};
    if (fstat(fileno(file), &st) != 0)
        return false;
    size = static_cast<int64_t>(st.st_size);
    return true;
}

bool pathHasAttributes(const char* path) {
    struct stat st {};
    return stat(path, &st) == 0;
}

bool utcCalendar(std::time_t when, std::tm& out) {
    return gmtime_r(&when, &out) != nullptr;
}

int32_t currentThreadId() {
#if defined(SYS_gettid)
    return static_cast<int32_t>(syscall(SYS_gettid));
#else
    return static_cast<int32_t>(getpid());
#endif
}

#endif
