#include "logsink.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "logescape.h"

namespace tolvane::logservice {

namespace fs = std::filesystem;

namespace {

constexpr size_t kSecondsTextLength = 19; // "2026-01-02T03:04:05"

struct Now {
    std::time_t seconds;
    int millis;
};

Now now() {
    using namespace std::chrono;
    const auto t = system_clock::now();
    const auto ms = duration_cast<milliseconds>(t.time_since_epoch()).count();
    Now n;
    n.seconds = static_cast<std::time_t>(ms / 1000);
    n.millis = static_cast<int>(ms % 1000);
    if (n.millis < 0) { // before 1970
        n.millis += 1000;
        n.seconds -= 1;
    }
    return n;
}

// "YYYY-MM-DDTHH:MM:SS" into `text` (room for 24); false when the time
// cannot be broken down.
bool secondsText(std::time_t seconds, char* text) {
    std::tm tm{};
    if (!gmtime_r(&seconds, &tm))
        return false;
    return std::strftime(text, 24, "%Y-%m-%dT%H:%M:%S", &tm) == kSecondsTextLength;
}

void appendMillis(std::string& out, int millis) {
    out += '.';
    out += static_cast<char>('0' + millis / 100);
    out += static_cast<char>('0' + millis / 10 % 10);
    out += static_cast<char>('0' + millis % 10);
    out += 'Z';
}

// The log holds what clients sent: readable by the owner and group only,
// whatever the umask.
constexpr mode_t kFileMode = 0640;
constexpr mode_t kDirectoryMode = 0750;

// Creates `dir` and its missing parents with kDirectoryMode.
bool makeDirectories(const fs::path& dir) {
    std::error_code ec;
    if (dir.empty() || fs::is_directory(dir, ec))
        return true;
    const fs::path parent = dir.parent_path();
    if (parent != dir && !makeDirectories(parent))
        return false;
    return ::mkdir(dir.c_str(), kDirectoryMode) == 0 || errno == EEXIST;
}

// Opens `name` for appending with kFileMode, taking from an existing file any
// permission beyond it; -1 on failure.
int openForAppend(const std::string& name) {
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, kFileMode);
    if (fd < 0)
        return -1;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && (st.st_mode & 0777 & ~kFileMode) != 0)
        ::fchmod(fd, st.st_mode & kFileMode);
    return fd;
}

// Whether `fd` is still the file at `name`: a log directory removed or
// replaced while serving must not swallow lines into a deleted file.
bool stillNamed(int fd, const std::string& name) {
    struct stat open {};
    struct stat named {};
    return ::fstat(fd, &open) == 0 && ::stat(name.c_str(), &named) == 0 &&
           open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

// Appends all of `text` or nothing: a short write (a full disk) is cut back,
// so the next line never starts glued to half of this one.
bool appendWhole(int fd, const std::string& text) {
    const off_t before = ::lseek(fd, 0, SEEK_END);
    size_t done = 0;
    while (done < text.size()) {
        const auto n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int error = errno;
            if (done > 0 && before >= 0 && ::ftruncate(fd, before) != 0) {
                // Nothing more to do: the next line starts on a line of its own.
            }
            errno = error;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

} // namespace

std::string utcTimeStamp() {
    const Now n = now();
    char text[24];
    if (!secondsText(n.seconds, text))
        return std::string();
    std::string out(text, kSecondsTextLength);
    appendMillis(out, n.millis);
    return out;
}

fs::path logDirectoryFor(const fs::path& pluginDirectory) {
    const char* env = std::getenv("TOLVANE_LOG_DIR");
    if (env && *env)
        return fs::path(env);
    return pluginDirectory.parent_path().parent_path() / "logs";
}

LogSink::LogSink(fs::path directory, uint64_t maxBytes, int keep)
    : directory_(std::move(directory)), fileName_(file().string()), maxBytes_(maxBytes),
      keep_(keep < 1 ? 1 : keep) {}

LogSink::~LogSink() {
    close();
}

void LogSink::close() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

bool LogSink::open() {
    if (fd_ >= 0 && !stillNamed(fd_, fileName_))
        close();
    if (fd_ >= 0)
        return true;
    makeDirectories(directory_);
    fd_ = openForAppend(fileName_);
    if (fd_ < 0)
        return false;
    std::error_code ec;
    size_ = fs::file_size(fileName_, ec);
    if (ec)
        size_ = 0;
    return true;
}

void LogSink::rotate() {
    close();
    std::error_code ec;
    fs::remove(fileName_ + "." + std::to_string(keep_), ec);
    for (int i = keep_ - 1; i >= 1; --i)
        fs::rename(fileName_ + "." + std::to_string(i), fileName_ + "." + std::to_string(i + 1),
                   ec);
    fs::rename(fileName_, fileName_ + ".1", ec);
    size_ = 0;
}

// Starts `line_` with the time stamp and a blank. Taken under the lock, so
// the stamps in the file never go backwards.
void LogSink::stamp() {
    const Now n = now();
    if (n.seconds != stampSecond_) {
        if (secondsText(n.seconds, stampText_))
            stampSecond_ = n.seconds;
        else
            stampText_[0] = '\0';
    }
    line_.assign(stampText_);
    if (!line_.empty())
        appendMillis(line_, n.millis);
    line_ += ' ';
}

void LogSink::write(const std::string& message) {
    write(message.data(), message.size());
}

void LogSink::write(const char* message, size_t size) {
    while (size > 0 && (message[size - 1] == '\n' || message[size - 1] == '\r'))
        --size;
    std::lock_guard<std::mutex> lock(mutex_);
    stamp();
    // One call, one line: a line break inside the message is written as an
    // escape, whoever called.
    logtext::appendEscaped(line_, message, size);
    line_ += '\n';
    if (size_ > 0 && size_ + line_.size() > maxBytes_)
        rotate();
    if (!open()) {
        ++lostLines_;
        lostReason_ = std::strerror(errno);
        return;
    }
    if (lostLines_ > 0) {
        // Say what went missing once lines can be written again.
        const std::string notice = line_.substr(0, line_.find(' ') + 1) +
                                   std::to_string(lostLines_) +
                                   " log line(s) lost: " + lostReason_ + "\n";
        if (appendWhole(fd_, notice)) {
            size_ += notice.size();
            lostLines_ = 0;
        }
    }
    // One write per line: the line is in the file when the call returns.
    if (lostLines_ == 0 && appendWhole(fd_, line_)) {
        size_ += line_.size();
    } else {
        ++lostLines_;
        lostReason_ = std::strerror(errno);
        // Start over with a fresh handle next time (the disk may be back).
        close();
    }
    // A rare long line does not keep its memory for good.
    if (line_.capacity() > 64 * 1024)
        std::string().swap(line_);
}

} // namespace tolvane::logservice
