// The few operating-system services the logger needs, one implementation per
// platform (logplatform.cpp for POSIX, logplatform_win.cpp for Windows).
#ifndef TOLVANE_LOGPLATFORM_H
#define TOLVANE_LOGPLATFORM_H

#include <cstdint>
#include <cstdio>
#include <ctime>

// Size in bytes of an open file; false when it cannot be read.
bool openFileSize(std::FILE* file, int64_t& size);

// True when the file system reports attributes for `path` (a file or a
// directory of that name exists).
bool pathHasAttributes(const char* path);

// Breaks `when` into the calendar fields of universal time.
bool utcCalendar(std::time_t when, std::tm& out);

// Identifier of the calling thread as trace records show it: the kernel
// thread id on Linux, GetCurrentThreadId on Windows.
int32_t currentThreadId();

#endif
