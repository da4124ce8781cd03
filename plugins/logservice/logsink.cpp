#include "logsink.h"

#include <chrono>
#include <cstdlib>
#include <ctime>

namespace tolvane::logservice {

namespace fs = std::filesystem;

std::string utcTimeStamp() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    const long millis =
        static_cast<long>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
    std::tm tm{};
    gmtime_r(&seconds, &tm);
    char text[40];
    size_t n = std::strftime(text, sizeof(text), "%Y-%m-%dT%H:%M:%S", &tm);
    std::snprintf(text + n, sizeof(text) - n, ".%03ldZ", millis);
    return text;
}

fs::path logDirectoryFor(const fs::path& pluginDirectory) {
    const char* env = std::getenv("TOLVANE_LOG_DIR");
    if (env && *env)
        return fs::path(env);
    return pluginDirectory.parent_path().parent_path() / "logs";
}

LogSink::LogSink(fs::path directory, uint64_t maxBytes, int keep)
    : directory_(std::move(directory)), maxBytes_(maxBytes), keep_(keep < 1 ? 1 : keep) {}

LogSink::~LogSink() {
    if (out_)
        std::fclose(out_);
}

bool LogSink::open() {
    if (out_)
        return true;
    std::error_code ec;
    fs::create_directories(directory_, ec);
    out_ = std::fopen(file().c_str(), "ab");
    if (!out_)
        return false;
    size_ = fs::file_size(file(), ec);
    if (ec)
        size_ = 0;
    return true;
}

void LogSink::rotate() {
    if (out_) {
        std::fclose(out_);
        out_ = nullptr;
    }
    std::error_code ec;
    const std::string base = file().string();
    fs::remove(base + "." + std::to_string(keep_), ec);
    for (int i = keep_ - 1; i >= 1; --i)
        fs::rename(base + "." + std::to_string(i), base + "." + std::to_string(i + 1), ec);
    fs::rename(base, base + ".1", ec);
    size_ = 0;
}

void LogSink::write(const std::string& message) {
    std::string line = utcTimeStamp() + " " + message;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.pop_back();
    line += '\n';
    std::lock_guard<std::mutex> lock(mutex_);
    if (size_ > 0 && size_ + line.size() > maxBytes_)
        rotate();
    if (!open())
        return;
    if (std::fwrite(line.data(), 1, line.size(), out_) == line.size()) {
        size_ += line.size();
        std::fflush(out_);
    } else {
        // Start over with a fresh handle next time (the disk may be back).
        std::fclose(out_);
        out_ = nullptr;
    }
}

} // namespace tolvane::logservice
