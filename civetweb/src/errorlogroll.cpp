// The engine's error log (WebServer.log) rolls over by the trace file's
// settings and rule: past rollingSize x 100 bytes the file is renamed to the
// first free numbered name (".1" up to rollingCount); when every name is
// taken, the copies keep the oldest history and the live file starts afresh.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>
#include <system_error>

#include "logging/Logger.h"

namespace {

// rollingSize counts in units of 100 bytes, as for the trace file.
constexpr std::uintmax_t kRollingSizeUnit = 100;

std::mutex& rollMutex() {
    static std::mutex instance;
    return instance;
}

} // namespace

// Called by the engine before it appends a line to its error log.
extern "C" void tolvane_roll_error_log(const char* path) {
    if (path == nullptr || *path == '\0')
        return;
    const std::filesystem::path live = std::filesystem::u8path(path);
    std::lock_guard<std::mutex> lock(rollMutex());
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(live, ec);
    const std::uintmax_t limit =
        static_cast<std::uintmax_t>(Logger::RollingSize()) * kRollingSizeUnit;
    if (ec || size <= limit)
        return;
    for (int32_t n = 1; n <= Logger::RollingCount(); ++n) {
        const std::string numbered = std::string(path) + "." + std::to_string(n);
        if (Logger::FileExists(numbered))
            continue;
        std::filesystem::rename(live, std::filesystem::u8path(numbered), ec);
        return;
    }
    std::filesystem::resize_file(live, 0, ec);
}
