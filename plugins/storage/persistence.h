// Files the plug-in keeps in the server directory: written whole and
// atomically (temporary file, fsync, rename), so a crash leaves either the
// old or the new contents, never a mix. The temporary is always created anew
// (O_EXCL, O_NOFOLLOW), so a link at its name is never followed. Writes from
// several threads take turns.
#ifndef TOLVANE_PLUGIN_PERSISTENCE_H
#define TOLVANE_PLUGIN_PERSISTENCE_H

#include <filesystem>
#include <string>

#include "json.h"

namespace tolvane::plugin {

// Writes `text` to `path` with permission bits `mode`; throws
// std::runtime_error when the file cannot be written.
void writeFileAtomically(const std::filesystem::path& path, const std::string& text,
                         unsigned mode = 0600);

void saveJsonFile(const std::filesystem::path& path, const Json& value);

// Reads a whole regular file into `out`, at most `limit` bytes; false when it
// cannot be read, is larger, is a symbolic link or is no regular file.
bool readWholeFile(const std::filesystem::path& path, std::string& out, size_t limit);

struct LoadedJson {
    enum class Status { Missing, Loaded, Unreadable };
    Status status = Status::Missing;
    Json value;
    std::string problem; // for Unreadable
};

LoadedJson loadJsonFile(const std::filesystem::path& path);

// Renames a file that could not be used to "<name>.corrupt-<UTC time>" beside
// it and returns the new path ("" when the rename failed).
std::filesystem::path moveAside(const std::filesystem::path& path);

} // namespace tolvane::plugin

#endif
