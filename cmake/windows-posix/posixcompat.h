// The few POSIX calls the bundled plug-ins make, mapped onto the Windows C
// runtime for the mingw-w64 build. Force-included into the plug-ins' sources
// only (cmake/windows.cmake); the server itself has Windows sources of its
// own (*_win.cpp).
//
// Files are always opened in binary mode: the runtime's default text mode
// would turn "\n" into "\r\n" and make a read come up short of the size
// fstat reported. Directories cannot be opened (nor synced) on Windows:
// O_DIRECTORY fails at once, without touching the path.
#ifndef TOLVANE_WINDOWS_POSIXCOMPAT_H
#define TOLVANE_WINDOWS_POSIXCOMPAT_H

#if defined(_WIN32) && defined(__cplusplus)

#include <cerrno>
#include <ctime>
#include <mutex>

#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <windows.h>

#ifndef O_CLOEXEC
#define O_CLOEXEC _O_NOINHERIT
#endif
#ifndef O_NOFOLLOW
#define O_NOFOLLOW 0
#endif
#ifndef O_NONBLOCK
#define O_NONBLOCK 0
#endif
#ifndef O_DIRECTORY
#define O_DIRECTORY 0x01000000
#endif

namespace tolvane_posixcompat {
inline int fileFlags(int flags) {
    return (flags & ~O_DIRECTORY) | _O_BINARY;
}
inline int refuseDirectory() {
    errno = EISDIR;
    return -1;
}
} // namespace tolvane_posixcompat

inline int open(const char* path, int flags, int mode) {
    if (flags & O_DIRECTORY)
        return tolvane_posixcompat::refuseDirectory();
    return _open(path, tolvane_posixcompat::fileFlags(flags), mode & (_S_IREAD | _S_IWRITE));
}
inline int open(const char* path, int flags) {
    return open(path, flags, _S_IREAD | _S_IWRITE);
}
inline int open(const wchar_t* path, int flags, int mode) {
    if (flags & O_DIRECTORY)
        return tolvane_posixcompat::refuseDirectory();
    return _wopen(path, tolvane_posixcompat::fileFlags(flags), mode & (_S_IREAD | _S_IWRITE));
}
inline int open(const wchar_t* path, int flags) {
    return open(path, flags, _S_IREAD | _S_IWRITE);
}

// A path that is "." or a wide path by turns (a conditional between the two
// types) arrives untyped; it can only have meant a directory to sync.
inline int open(const void*, int flags) {
    if (flags & O_DIRECTORY)
        return tolvane_posixcompat::refuseDirectory();
    errno = EINVAL;
    return -1;
}

inline int unlink(const wchar_t* path) {
    return _wunlink(path);
}
// POSIX rename replaces an existing target in one step; the runtime's
// rename refuses. MoveFileEx does what the atomic file writes rely on.
inline int rename(const wchar_t* from, const wchar_t* to) {
    if (MoveFileExW(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return 0;
    errno = EACCES;
    return -1;
}

inline int mkdir(const char* path, int) {
    return _mkdir(path);
}
inline int mkdir(const wchar_t* path, int) {
    return _wmkdir(path);
}

// Windows has no symbolic links that the runtime reports; stat is lstat.
inline int lstat(const char* path, struct stat* st) {
    return stat(path, st);
}
inline int lstat(const wchar_t* path, struct stat* st) {
    struct _stat64 wide {};
    if (_wstat64(path, &wide) != 0)
        return -1;
    *st = {};
    st->st_mode = wide.st_mode;
    st->st_size = static_cast<decltype(st->st_size)>(wide.st_size);
    st->st_mtime = static_cast<decltype(st->st_mtime)>(wide.st_mtime);
    return 0;
}

// Only the read-only attribute exists; owner and group modes do not.
inline int fchmod(int, unsigned) {
    return 0;
}

inline int fsync(int fd) {
    return _commit(fd);
}

inline struct tm* gmtime_r(const time_t* when, struct tm* out) {
    return gmtime_s(out, when) == 0 ? out : nullptr;
}

#endif

#endif
