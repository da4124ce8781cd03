#include "logging/logplatform.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <windows.h>

int openLogFile(const char* path, bool truncate) {
    // Text mode, like the runtime's "a" and "w": line feeds are written as
    // CR LF.
    const int flags =
        _O_WRONLY | _O_CREAT | _O_TEXT | _O_NOINHERIT | (truncate ? _O_TRUNC : _O_APPEND);
    return _open(path, flags, _S_IREAD | _S_IWRITE);
}

void restrictLogFile(int) {}

bool logFileSize(int file, int64_t& size) {
    struct _stat64 st {};
    if (_fstat64(file, &st) != 0)
        return false;
    size = static_cast<int64_t>(st.st_size);
    return true;
}

bool writeLogFile(int file, const char* data, size_t size) {
    while (size > 0) {
        const unsigned int chunk =
            size > 0x40000000u ? 0x40000000u : static_cast<unsigned int>(size);
        const int n = _write(file, data, chunk);
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool logFileStaysOpen() {
    return false;
}

bool logFileStatus(int file, int64_t& size, LogFileIdentity&) {
    return logFileSize(file, size);
}

bool pathNamesLogFile(const char*, const LogFileIdentity&, int64_t&) {
    return false;
}

void closeLogFile(int file) {
    if (file >= 0)
        _close(file);
}

bool openFileSize(std::FILE* file, int64_t& size) {
    return logFileSize(_fileno(file), size);
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
