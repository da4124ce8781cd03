#include "logging/logplatform.h"

#if !defined(_WIN32)

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

constexpr mode_t kLogFileMode = 0640;

} // namespace

int openLogFile(const char* path, bool truncate) {
    const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (truncate ? O_TRUNC : O_APPEND);
    int fd;
    do {
        fd = open(path, flags, kLogFileMode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

void restrictLogFile(int file) {
    struct stat st {};
    if (fstat(file, &st) == 0 && (st.st_mode & 0777 & ~kLogFileMode) != 0)
        fchmod(file, st.st_mode & kLogFileMode);
}

bool logFileSize(int file, int64_t& size) {
    struct stat st {};
    if (fstat(file, &st) != 0)
        return false;
    size = static_cast<int64_t>(st.st_size);
    return true;
}

bool writeLogFile(int file, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = write(file, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool logFileStaysOpen() {
    return true;
}

bool logFileStatus(int file, int64_t& size, LogFileIdentity& identity) {
    struct stat st {};
    if (fstat(file, &st) != 0)
        return false;
    size = static_cast<int64_t>(st.st_size);
    identity.device = static_cast<uint64_t>(st.st_dev);
    identity.node = static_cast<uint64_t>(st.st_ino);
    return true;
}

bool pathNamesLogFile(const char* path, const LogFileIdentity& identity, int64_t& size) {
    struct stat st {};
    if (stat(path, &st) != 0 || static_cast<uint64_t>(st.st_dev) != identity.device ||
        static_cast<uint64_t>(st.st_ino) != identity.node)
        return false;
    size = static_cast<int64_t>(st.st_size);
    return true;
}

void closeLogFile(int file) {
    if (file >= 0)
        close(file);
}

bool openFileSize(std::FILE* file, int64_t& size) {
    return logFileSize(fileno(file), size);
}

bool pathHasAttributes(const char* path) {
    struct stat st {};
    return stat(path, &st) == 0;
}

bool utcCalendar(std::time_t when, std::tm& out) {
    return gmtime_r(&when, &out) != nullptr;
}

int32_t currentThreadId() {
    // A thread keeps its id for life; the system call is needed once.
    thread_local const int32_t id =
#if defined(SYS_gettid)
        static_cast<int32_t>(syscall(SYS_gettid));
#else
        static_cast<int32_t>(getpid());
#endif
    return id;
}

#endif
