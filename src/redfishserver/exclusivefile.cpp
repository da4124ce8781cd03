#if !defined(_WIN32)
#include "redfishserver/exclusivefile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace {

bool writeAll(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

} // namespace

bool createExclusiveFile(const std::string& path, const std::string& data, mode_t mode) {
    // Written whole under a name of its own first, then given its name in one
    // step: a crash never leaves a partial file that blocks every later start.
    // link() gives the name only when nothing has it, as O_EXCL would.
    const std::string temporary = path + ".tmp-" + std::to_string(getpid());
    unlink(temporary.c_str());
    int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd < 0)
        return false;
    bool ok = fchmod(fd, mode) == 0 && writeAll(fd, data) && fsync(fd) == 0;
    int error = errno;
    if (close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok && link(temporary.c_str(), path.c_str()) != 0) {
        ok = false;
        error = errno;
    }
    unlink(temporary.c_str());
    errno = error;
    return ok;
}
#endif
