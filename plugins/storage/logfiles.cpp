#include "logfiles.h"

#include <sys/stat.h>

#include <cstdio>
#include <fstream>

namespace tolvane::plugin {

namespace {

constexpr size_t kBlock = 64 * 1024;

// The identity that follows a file through renames: its inode where the
// system has one, else its place in the rotation.
std::string identity(const std::filesystem::path& file, size_t place) {
    struct stat st {};
    if (::stat(file.string().c_str(), &st) == 0 && st.st_ino != 0) {
        char text[32];
        std::snprintf(text, sizeof text, "%llx", static_cast<unsigned long long>(st.st_ino));
        return text;
    }
    return "r" + std::to_string(place);
}

// Calls `line(offset, text)` for each complete line of `file`, last first,
// until it returns false. Reads blocks from the end; a line longer than
// kMaxLine is given cut to its start.
void eachLineBackwards(const std::filesystem::path& file,
                       const std::function<bool(uint64_t, std::string)>& line) {
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return;
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    if (size <= 0)
        return;
    // The line being put together, reversed, and whether a line end closes
    // it (the last line may still be being written).
    std::string tail;
    uint64_t end = static_cast<uint64_t>(size);
    bool closed = false;
    std::string block;
    while (end > 0) {
        const uint64_t start = end > kBlock ? end - kBlock : 0;
        block.resize(static_cast<size_t>(end - start));
        in.seekg(static_cast<std::streamoff>(start));
        if (!in.read(block.data(), static_cast<std::streamsize>(block.size())))
            return;
        for (size_t i = block.size(); i > 0; --i) {
            const char ch = block[i - 1];
            if (ch == '\n') {
                if (closed && !tail.empty() &&
                    !line(start + i, std::string(tail.rbegin(), tail.rend())))
                    return;
                tail.clear();
                closed = true;
            } else if (closed) {
                tail += ch; // reversed: a long line drops its end, keeping its start
                if (tail.size() > 2 * RotatedLog::kMaxLine)
                    tail.erase(0, RotatedLog::kMaxLine);
            }
        }
        end = start;
    }
    if (closed && !tail.empty()) {
        std::string text(tail.rbegin(), tail.rend());
        line(0, text.substr(0, RotatedLog::kMaxLine));
    }
}

} // namespace

std::vector<std::filesystem::path> RotatedLog::files() const {
    std::vector<std::filesystem::path> out{file_};
    for (int i = 1; i <= rotations_; ++i)
        out.push_back(file_.string() + "." + std::to_string(i));
    return out;
}

size_t RotatedLog::count() const {
    size_t lines = 0;
    std::string block(kBlock, '\0');
    for (const auto& file : files()) {
        std::ifstream in(file, std::ios::binary);
        while (in) {
            in.read(block.data(), static_cast<std::streamsize>(block.size()));
            for (std::streamsize i = 0; i < in.gcount(); ++i)
                lines += block[static_cast<size_t>(i)] == '\n';
        }
    }
    return lines;
}

std::vector<LogLine> RotatedLog::newest(size_t skip, size_t take) const {
    std::vector<LogLine> out;
    const auto all = files();
    for (size_t place = 0; place < all.size() && out.size() < take; ++place) {
        const std::string key = identity(all[place], place);
        eachLineBackwards(all[place], [&](uint64_t offset, std::string text) {
            if (skip > 0) {
                --skip;
                return true;
            }
            if (text.size() > RotatedLog::kMaxLine)
                text.resize(RotatedLog::kMaxLine);
            out.push_back({key + "-" + std::to_string(offset), std::move(text)});
            return out.size() < take;
        });
    }
    return out;
}

std::optional<LogLine> RotatedLog::find(const std::string& id) const {
    const size_t dash = id.rfind('-');
    if (dash == std::string::npos || dash + 1 >= id.size() ||
        id.find_first_not_of("0123456789", dash + 1) != std::string::npos || dash + 21 < id.size())
        return std::nullopt;
    const uint64_t offset = std::stoull(id.substr(dash + 1));
    const auto all = files();
    for (size_t place = 0; place < all.size(); ++place) {
        if (identity(all[place], place) != id.substr(0, dash))
            continue;
        std::ifstream in(all[place], std::ios::binary);
        // A line starts at the file's start or after a line end.
        if (offset > 0) {
            in.seekg(static_cast<std::streamoff>(offset - 1));
            if (in.get() != '\n')
                return std::nullopt;
        }
        std::string text;
        in.seekg(static_cast<std::streamoff>(offset));
        char ch = 0;
        while (in.get(ch) && ch != '\n') {
            if (text.size() < RotatedLog::kMaxLine)
                text += ch;
        }
        if (ch != '\n' || text.empty())
            return std::nullopt;
        return LogLine{id, text};
    }
    return std::nullopt;
}

bool RotatedLog::clear() const {
    bool all = true;
    for (const auto& file : files()) {
        std::error_code ec;
        std::filesystem::remove(file, ec);
        all = all && !ec;
    }
    return all;
}

} // namespace tolvane::plugin
