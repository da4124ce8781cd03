// The few operating-system services the logger needs, one implementation per
// platform (logplatform.cpp for POSIX, logplatform_win.cpp for Windows).
#ifndef TOLVANE_LOGPLATFORM_H
#define TOLVANE_LOGPLATFORM_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>

// The log files are written with the system's own calls, without a stdio
// buffer in between, so each step is one system call. A handle is a
// descriptor; -1 is none.
//
// Opens `path` for appending, creating it when absent; with `truncate`, the
// file is emptied instead ("w" rather than "a"). A new file is readable by
// its owner and group only (0640), whatever the umask: records hold request
// bodies. -1 on failure.
int openLogFile(const char* path, bool truncate);
// Takes from an open log file any permission beyond 0640 (a file an older
// version left readable by everyone). Does nothing where files have no such
// modes.
void restrictLogFile(int file);
// Size in bytes of an open file; false when it cannot be read.
bool logFileSize(int file, int64_t& size);

// Which file an open handle is, so a kept handle can be checked against its
// path without opening the path.
struct LogFileIdentity {
    uint64_t device = 0;
    uint64_t node = 0;
};
// Whether the trace file stays open between records. Where that holds, a
// record costs a look at the path and a write instead of opening, sizing and
// closing; where an open file could not be moved or deleted by others
// (Windows), each record opens and closes it.
bool logFileStaysOpen();
// The size and identity of an open file; false when they cannot be read.
bool logFileStatus(int file, int64_t& size, LogFileIdentity& identity);
// True when `path` still names the file of `identity` (not moved, deleted or
// replaced), with its size as the file system reports it now.
bool pathNamesLogFile(const char* path, const LogFileIdentity& identity, int64_t& size);
// Writes all `size` bytes at the end of the file; false on a failed write.
bool writeLogFile(int file, const char* data, size_t size);
void closeLogFile(int file);

// Size in bytes of an open file; false when it cannot be read.
bool openFileSize(std::FILE* file, int64_t& size);

// True when the file system reports attributes for `path` (a file or a
// directory of that name exists).
bool pathHasAttributes(const char* path);

// Breaks `when` into the calendar fields of universal time.
bool utcCalendar(std::time_t when, std::tm& out);

// Identifier of the calling thread as trace records show it: the kernel
// thread id on Linux, GetCurrentThreadId on Windows. Asked of the system once
// per thread.
int32_t currentThreadId();

#endif
