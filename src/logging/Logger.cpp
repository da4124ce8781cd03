#include "logging/Logger.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>

#include "logging/loglines.h"
#include "logging/logplatform.h"
#include "logging/timestamp.h"
#include "redfishserver/installpaths.h"
#include "redfishserver/serverconfig.h"

namespace {

constexpr int32_t kMaxRollingCount = 999;
// Record kinds 0..4 pass the filter only when their group of the mask is set.
constexpr uint32_t kKindGroups[] = {0x0000F000u, 0x000000F0u, 0x0000000Fu, 0x000F0000u,
                                    0x00F00000u};
// The logger's own problems are reported only from setting 1 upwards.
constexpr uint32_t kReportGroup = 0x000000F0u;

// The mask as log lines and trace records read it, without the lock.
std::atomic<uint32_t> gLineMask{0};

struct LoggerState {
    std::string path;
    // Whether the file at `path` has had its permissions checked.
    bool restricted = false;
    // Kept open between records where the platform allows it; each record
    // checks that the path still names it, so a file moved, deleted or
    // replaced meanwhile is followed by a new one as before.
    int file = -1;
    LogFileIdentity identity;
    const int32_t sizeUnit = 100;
    int32_t rollingSize = 5000;
    uint32_t levelMask = 0;
    int32_t rollingCount = 3;
};

// Function-local so that plug-ins and static constructors can log safely
// whatever the order of initialisation.
LoggerState& state() {
    static LoggerState instance;
    return instance;
}

std::mutex& logMutex() {
    static std::mutex instance;
    return instance;
}

void report(const char* text) {
    std::fputs(text, stdout);
    std::fflush(stdout);
}

// Renames the trace file to the first free numbered name; when every name is
// taken the copies keep the oldest history and nothing is renamed.
void rollOver(const LoggerState& s) {
    if (Logger::RollToFreeCopy(s.path, s.rollingCount) < 0 && (s.levelMask & kReportGroup))
        report("LogServicePlugin::Could not rename the file");
}

} // namespace

void Logger::Configure() {
    SetLogFilePath();
    SetDebugLevel(ServerConfig.RedfishDebugMask);
    SetRollingSize(ServerConfig.rollingSize);
    SetRollingCount(ServerConfig.rollingCount);
}

std::string Logger::GetLogDirectory() {
    // Same source as the start-up's log directory.
    char directory[kPathBufferSize] = {};
    readLogDirectory(directory);
    return directory;
}

void Logger::SetLogFilePath() {
    std::string path = GetLogDirectory() + "RedfishClientTrace.log";
    std::lock_guard<std::mutex> lock(logMutex());
    LoggerState& s = state();
    closeLogFile(s.file);
    s.file = -1;
    s.path = std::move(path);
    s.restricted = false;
}

void Logger::SetDebugLevel(int32_t level) {
    uint32_t mask;
    switch (level) {
    case 0:
        mask = 0x0000FF00u;
        break;
    case 1:
        mask = 0x0000FFF0u;
        break;
    case 2:
        mask = 0x0000FFFFu;
        break;
    case 3:
        mask = 0x000FFFFFu;
        break;
    case 4:
        mask = 0x00FFFFFFu;
        break;
    case 5:
        mask = 0x0F000000u;
        break;
    case 6:
        mask = 0xF0000000u;
        break;
    default:
        mask = 0x0000F000u;
        break;
    }
    std::lock_guard<std::mutex> lock(logMutex());
    state().levelMask = mask;
    gLineMask.store(mask, std::memory_order_relaxed);
}

bool logtext::levelEnabled(int level) {
    // Levels 1 to 4 share the record kinds' groups of the mask; ERROR and
    // INFO (what an administrator needs whatever the setting) always pass.
    if (level == 0 || level == 1)
        return true;
    if (level < 0 || level > 4)
        return false;
    return (gLineMask.load(std::memory_order_relaxed) & kKindGroups[level]) != 0;
}

void Logger::SetRollingSize(int32_t size) {
    // The limit is computed in 64 bits, so every positive size is usable.
    if (size <= 0)
        return;
    std::lock_guard<std::mutex> lock(logMutex());
    state().rollingSize = size;
}

void Logger::SetRollingCount(int32_t count) {
    if (count <= 0)
        return;
    std::lock_guard<std::mutex> lock(logMutex());
    state().rollingCount = count > kMaxRollingCount ? kMaxRollingCount : count;
}

bool Logger::FileExists(const std::string& path) {
    return pathHasAttributes(path.c_str());
}

namespace {

// Formats a record into `small` when it fits, else into `large`; the text and
// its length, or null when the format fails.
const char* formatRecord(char (&small)[4096], std::string& large, size_t& length,
                         const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(small, sizeof(small), format, args);
    if (n < 0) {
        va_end(copy);
        return nullptr;
    }
    length = static_cast<size_t>(n);
    if (length < sizeof(small)) {
        va_end(copy);
        return small;
    }
    large.assign(length + 1, '\0');
    std::vsnprintf(&large[0], large.size(), format, copy);
    va_end(copy);
    return large.data();
}

} // namespace

// Plug-ins compiled against either declaration of the record kind link: the
// integer one and the EnumLoggerType one have different linker names.
void Logger::PrintLog(EnumLoggerType type, const char* format, ...) {
    va_list args;
    va_start(args, format);
    PrintLogV(static_cast<int>(type), format, args);
    va_end(args);
}

void Logger::PrintLog(int type, const char* format, ...) {
    va_list args;
    va_start(args, format);
    PrintLogV(type, format, args);
    va_end(args);
}

void Logger::PrintLogV(int type, const char* format, va_list args) {
    // Formatted on the caller's thread before the lock, which then covers the
    // file alone; a record the mask drops is not formatted at all. The mask
    // is the one the lock guards, published for lock-free reading.
    const bool filtered = type >= 0 && type <= 4 &&
                          (gLineMask.load(std::memory_order_relaxed) & kKindGroups[type]) == 0;
    char small[4096];
    // A long record reuses the memory of the thread's last one.
    thread_local std::string large;
    size_t length = 0;
    const char* text = filtered ? nullptr : formatRecord(small, large, length, format, args);

    std::lock_guard<std::mutex> lock(logMutex());
    LoggerState& s = state();

    int64_t size = 0;
    bool sized = s.file >= 0 && pathNamesLogFile(s.path.c_str(), s.identity, size);
    if (!sized) {
        closeLogFile(s.file);
        s.file = openLogFile(s.path.c_str(), false);
        if (s.file < 0) {
            report("LogServicePlugin::Error in opening debug log file\n");
            return;
        }
        // Once per path: the files this process creates are restricted already.
        if (!s.restricted) {
            restrictLogFile(s.file);
            s.restricted = true;
        }
        sized = logFileStatus(s.file, size, s.identity);
    }

    if (!sized) {
        if (s.levelMask & kReportGroup)
            report("LogServicePlugin::Cannot get size of file");
    } else if (size > static_cast<int64_t>(s.rollingSize) * s.sizeUnit) {
        closeLogFile(s.file);
        s.file = -1;
        rollOver(s);
        s.file = openLogFile(s.path.c_str(), true);
        if (s.file < 0) {
            report("LogServicePlugin::Error in opening debug log file\n");
            return;
        }
        int64_t emptied = 0;
        sized = logFileStatus(s.file, emptied, s.identity);
    }

    // Written after the size test, so a dropped record still rolls the file;
    // the whole record in one write, so it lands in the file in one piece.
    if (text)
        writeLogFile(s.file, text, length);
    // A file that could not be identified is opened anew by the next record.
    if (!sized || !logFileStaysOpen()) {
        closeLogFile(s.file);
        s.file = -1;
    }
    if (large.capacity() > 256 * 1024) // a rare huge record does not stay
        std::string().swap(large);
}

void Logger::GetTimeStamp(char* buffer) {
    // The text changes once a second; records come far more often.
    static std::mutex cacheMutex;
    static std::time_t cachedSecond = -1;
    static char cachedText[kTimeStampBufferSize] = {};
    const std::time_t now = std::time(nullptr);
    std::lock_guard<std::mutex> lock(cacheMutex);
    if (now != cachedSecond) {
        formatTimeStamp(now, cachedText, kTimeStampBufferSize);
        cachedSecond = cachedText[0] ? now : -1;
    }
    std::memcpy(buffer, cachedText, std::strlen(cachedText) + 1);
}

std::string Logger::LogFilePath() {
    std::lock_guard<std::mutex> lock(logMutex());
    return state().path;
}

uint32_t Logger::LevelMask() {
    std::lock_guard<std::mutex> lock(logMutex());
    return state().levelMask;
}

int Logger::RollToFreeCopy(const std::string& path, int32_t count) {
    for (int32_t n = 1; n <= count; ++n) {
        const std::string numbered = path + "." + std::to_string(n);
        if (FileExists(numbered))
            continue;
        return std::rename(path.c_str(), numbered.c_str()) == 0 ? 1 : -1;
    }
    return 0;
}

int64_t Logger::RollingLimitBytes() {
    std::lock_guard<std::mutex> lock(logMutex());
    return static_cast<int64_t>(state().rollingSize) * state().sizeUnit;
}

int32_t Logger::RollingSize() {
    std::lock_guard<std::mutex> lock(logMutex());
    return state().rollingSize;
}

int32_t Logger::RollingCount() {
    std::lock_guard<std::mutex> lock(logMutex());
    return state().rollingCount;
}
