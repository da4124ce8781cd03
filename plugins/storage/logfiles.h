// Reading a rotated log ("name", "name.1" newest to "name.<n>" oldest) from
// its newest line back, in blocks, so that memory stays bounded whatever the
// size of the files. A line is named by its file's identity and its offset
// there, which a rotation (a rename) does not change.
#ifndef TOLVANE_PLUGIN_LOGFILES_H
#define TOLVANE_PLUGIN_LOGFILES_H

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tolvane::plugin {

struct LogLine {
    std::string id; // "<file identity>-<offset>"
    std::string text;
};

class RotatedLog {
  public:
    RotatedLog(std::filesystem::path file, int rotations)
        : file_(std::move(file)), rotations_(rotations) {}

    // Complete lines in all files.
    size_t count() const;
    // Up to `take` lines after skipping the `skip` newest, newest first.
    std::vector<LogLine> newest(size_t skip, size_t take) const;
    // The line an id names, if it is still there.
    std::optional<LogLine> find(const std::string& id) const;
    // Removes every file of the log; false when one could not be removed.
    bool clear() const;

    // A line longer than this is cut (the writers never write one).
    static constexpr size_t kMaxLine = 64 * 1024;

  private:
    std::vector<std::filesystem::path> files() const; // newest first
    std::filesystem::path file_;
    int rotations_;
};

} // namespace tolvane::plugin

#endif
