#include "logging/Logger.h"

#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <string>

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

struct LoggerState {
    std::string path;
    std::FILE* stream = nullptr; // open only inside one PrintLog call
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
    for (int32_t n = 1; n <= s.rollingCount; ++n) {
        std::string numbered = s.path + "." + std::to_string(n);
        if (Logger::FileExists(numbered))
            continue;
        if (std::rename(s.path.c_str(), numbered.c_str()) != 0 && (s.levelMask & kReportGroup))
            report("LogServicePlugin::Could not rename the file");
        return;
    }
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
    state().path = std::move(path);
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

void Logger::PrintLog(int type, const char* format, ...) {
    std::lock_guard<std::mutex> lock(logMutex());
    LoggerState& s = state();

    s.stream = std::fopen(s.path.c_str(), "a");
    if (!s.stream) {
        report("LogServicePlugin::Error in opening debug log file\n");
        return;
    }

    int64_t size = 0;
    if (!openFileSize(s.stream, size)) {
        if (s.levelMask & kReportGroup)
            report("LogServicePlugin::Cannot get size of file");
    } else if (size > static_cast<int64_t>(s.rollingSize) * s.sizeUnit) {
        std::fclose(s.stream);
        s.stream = nullptr;
        rollOver(s);
        s.stream = std::fopen(s.path.c_str(), "w");
        if (!s.stream) {
            report("LogServicePlugin::Error in opening debug log file\n");
            return;
        }
    }

    // Filtered after the size test, so a dropped record still rolls the file.
    bool filtered = type >= 0 && type <= 4 && (s.levelMask & kKindGroups[type]) == 0;
    if (!filtered) {
        va_list args;
        va_start(args, format);
        std::vfprintf(s.stream, format, args);
        va_end(args);
        std::fflush(s.stream);
    }
    std::fclose(s.stream);
    s.stream = nullptr;
}

void Logger::GetTimeStamp(char* buffer) {
    formatTimeStamp(std::time(nullptr), buffer, kTimeStampBufferSize);
}

std::string Logger::LogFilePath() {
    std::lock_guard<std::mutex> lock(logMutex());
    return state().path;
}

uint32_t Logger::LevelMask() {
    std::lock_guard<std::mutex> lock(logMutex());
    return state().levelMask;
}

int32_t Logger::RollingSize() {
    std::lock_guard<std::mutex> lock(logMutex());
    return state().rollingSize;
}

int32_t Logger::RollingCount() {
    std::lock_guard<std::mutex> lock(logMutex());
    return state().rollingCount;
}
