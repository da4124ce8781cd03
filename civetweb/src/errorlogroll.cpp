// The engine's error log (WebServer.log) rolls over by the trace file's
// settings and rule: past rollingSize x 100 bytes the file is renamed to the
// first free numbered name (".1" up to rollingCount); when every name is
// taken, the copies keep the oldest history and the live file starts afresh.
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <system_error>

#include "logging/Logger.h"

namespace {

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
    if (ec || size <= static_cast<std::uintmax_t>(Logger::RollingLimitBytes()))
        return;
    // Unlike the trace file, the engine's log starts afresh once every
    // numbered copy is taken.
    if (Logger::RollToFreeCopy(path, Logger::RollingCount()) == 0)
        std::filesystem::resize_file(live, 0, ec);
}
