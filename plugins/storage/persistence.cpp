#include "persistence.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <mutex>
#include <stdexcept>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "boundedjson.h"

namespace tolvane::plugin {

namespace fs = std::filesystem;

namespace {

std::string errnoText(const std::string& what, const fs::path& path) {
    return what + " " + path.string() + ": " + std::strerror(errno);
}

// Makes a rename in `dir` durable. Windows cannot open a directory for that;
// its file system journals the rename itself.
void syncDirectory(const fs::path& dir) {
#if defined(_WIN32)
    (void)dir;
#else
    int fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
#endif
}

} // namespace

void writeFileAtomically(const fs::path& path, const std::string& text, unsigned mode) {
    // One writer at a time: two would share the temporary's name.
    static std::mutex writing;
    const std::lock_guard<std::mutex> lock(writing);
    const fs::path tmp = path.string() + ".tmp";
    // A new file, never one found at the temporary's name: a link planted
    // there is not followed. A stale temporary (or link) is removed and the
    // file created once more; a directory there cannot be removed this way.
    const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    int fd = ::open(tmp.c_str(), flags, mode);
    if (fd < 0 && errno == EEXIST && ::unlink(tmp.c_str()) == 0)
        fd = ::open(tmp.c_str(), flags, mode);
    if (fd < 0)
        throw std::runtime_error(errnoText("cannot create", tmp));
    ::fchmod(fd, mode); // the umask must not widen or narrow what we chose
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            std::string problem = errnoText("cannot write", tmp);
            ::close(fd);
            ::unlink(tmp.c_str());
            throw std::runtime_error(problem);
        }
        done += static_cast<size_t>(n);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        std::string problem = errnoText("cannot flush", tmp);
        ::unlink(tmp.c_str());
        throw std::runtime_error(problem);
    }
    if (::rename(tmp.c_str(), path.c_str()) != 0) {
        std::string problem = errnoText("cannot replace", path);
        ::unlink(tmp.c_str());
        throw std::runtime_error(problem);
    }
    syncDirectory(path.parent_path());
}

void saveJsonFile(const fs::path& path, const Json& value) {
    writeFileAtomically(path, value.dump(2) + "\n");
}

bool readWholeFile(const fs::path& path, std::string& out, size_t limit) {
    // Non-blocking, so that a FIFO in the file's place cannot hold the reader.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return false;
    struct stat st {};
    bool ok =
        ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && static_cast<uint64_t>(st.st_size) <= limit;
    if (ok) {
        out.assign(static_cast<size_t>(st.st_size), '\0');
        size_t done = 0;
        while (ok && done < out.size()) {
            const ssize_t n = ::read(fd, out.data() + done, out.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            ok = n > 0;
            done += ok ? static_cast<size_t>(n) : 0;
        }
    }
    ::close(fd);
    return ok;
}

LoadedJson loadJsonFile(const fs::path& path) {
    LoadedJson result;
    std::error_code ec;
    if (!fs::exists(path, ec))
        return result;
    std::string text;
    if (!readWholeFile(path, text, JsonBudget().maxBytes)) {
        result.status = LoadedJson::Status::Unreadable;
        result.problem = "cannot read " + path.string();
        return result;
    }
    try {
        result.value = parseJson(text);
        result.status = LoadedJson::Status::Loaded;
    } catch (const JsonTextError& e) {
        result.status = LoadedJson::Status::Unreadable;
        result.problem = e.what();
    }
    return result;
}

fs::path moveAside(const fs::path& path) {
    char stamp[32];
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&now, &tm);
    std::strftime(stamp, sizeof(stamp), "%Y%m%dT%H%M%SZ", &tm);
    fs::path target = path.string() + ".corrupt-" + stamp;
    for (int i = 1; fs::exists(target); ++i)
        target = path.string() + ".corrupt-" + stamp + "-" + std::to_string(i);
    std::error_code ec;
    fs::rename(path, target, ec);
    return ec ? fs::path() : target;
}

} // namespace tolvane::plugin
