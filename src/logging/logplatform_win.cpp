#include "logging/logplatform.h"

#include <io.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <windows.h>

bool openFileSize(std::FILE* file, int64_t& size) {
    struct _stat64 st {};
    if (_fstat64(_fileno(file), &st) != 0)
        return false;
    size = static_cast<int64_t>(st.st_size);
    return true;
}

bool pathHasAttributes(const char* path) {
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

bool utcCalendar(std::time_t when, std::tm& out) {
    return gmtime_s(&out, &when) == 0;
}

int32_t currentThreadId() {
    return static_cast<int32_t>(GetCurrentThreadId());
}
