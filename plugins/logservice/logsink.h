// The file behind the log plug-in: "RedfishServer.log" in the log directory,
// one line per call with a UTC time stamp, rotated by size into
// "RedfishServer.log.1" (newest) up to ".<keep>". Safe to call from any
// thread; a line that cannot be written is dropped whole (never half of it),
// and the next line that can be says how many went missing and why. A file
// removed or replaced under the sink is followed to its path again. Control characters in a
// message are written as escapes (line feed "\n" and so on), so a call is
// always one line; files are created 0640 and directories 0750. Every line reaches the
// file (one write) before the call returns, so no stop, not even a kill,
// loses a line that was logged.
#ifndef TOLVANE_LOGSINK_H
#define TOLVANE_LOGSINK_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <string>

namespace tolvane::logservice {

class LogSink {
  public:
    static constexpr uint64_t kDefaultMaxBytes = 5u * 1024 * 1024;
    static constexpr int kDefaultKeep = 3;

    LogSink(std::filesystem::path directory, uint64_t maxBytes = kDefaultMaxBytes,
            int keep = kDefaultKeep);
    ~LogSink();
    LogSink(const LogSink&) = delete;
    LogSink& operator=(const LogSink&) = delete;

    // Appends "<time stamp> <message>\n" (one line end, whatever `message`
    // ends with; control characters inside it escaped).
    void write(const std::string& message);
    void write(const char* message, size_t size);
    std::filesystem::path file() const { return directory_ / "RedfishServer.log"; }

  private:
    bool open();
    void close();
    void rotate();
    void stamp();

    std::filesystem::path directory_;
    std::string fileName_;
    uint64_t maxBytes_;
    int keep_;
    std::mutex mutex_;
    int fd_ = -1;
    // Lines that could not be written since the last one that could, and why.
    uint64_t lostLines_ = 0;
    std::string lostReason_ = "the log file could not be opened";
    uint64_t size_ = 0;
    // The line being written, reused so a line costs no allocation.
    std::string line_;
    // The date and time part of the stamp, redone only when the second changes.
    std::time_t stampSecond_ = -1;
    char stampText_[24] = {};
};

// "2026-01-02T03:04:05.678Z"
std::string utcTimeStamp();

// $TOLVANE_LOG_DIR when set; otherwise the folder "logs" beside the server
// directory, the plug-in living in <server dir>/Plugins/.
std::filesystem::path logDirectoryFor(const std::filesystem::path& pluginDirectory);

} // namespace tolvane::logservice

#endif
