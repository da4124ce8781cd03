#if !defined(_WIN32)
#include "uploadfiles.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

std::string uploadsDirectory(const std::string& serverDir) {
    return serverDir + "uploads";
}

int ensureUploadsDirectory(const std::string& dir) {
    struct stat info {};
    if (stat(dir.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
        return 0;
    if (mkdir(dir.c_str(), 0750) == 0 || errno == EEXIST)
        return 0;
    return errno;
}

bool createUploadFile(const std::string& path) {
    // A leftover of an earlier request (or anything else of that name) gives
    // way; O_EXCL then guarantees the mode of a file of our own.
    unlink(path.c_str());
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0640);
    if (fd < 0)
        return false;
    fchmod(fd, 0640); // the process's umask must not widen or narrow it
    close(fd);
    return true;
}
#endif
