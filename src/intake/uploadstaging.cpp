#include "uploadstaging.h"

#include <atomic>
#include <filesystem>
#include <system_error>

#include "redfishserver/installpaths.h"
#include "uploadfiles.h"

namespace fs = std::filesystem;

namespace {
// Request directories are numbered; the incoming directory is emptied at
// every start, so a number is never reused while a file of it is left.
std::atomic<unsigned long long> gNextRequest{0};

void restrictToOwnerAndGroup(const fs::path& dir) {
    std::error_code ec;
    // Never through a link planted in its place.
    fs::permissions(dir, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec,
                    fs::perm_options::replace | fs::perm_options::nofollow, ec);
}
} // namespace

std::string incomingUploadsDirectory(const std::string& serverDir) {
    return uploadsDirectory(serverDir) + "-incoming";
}

bool resetIncomingUploads(const std::string& serverDir, std::string& message) {
    const fs::path dir = incomingUploadsDirectory(serverDir);
    std::error_code ec;
    // remove_all removes a link itself, never what it points to.
    fs::remove_all(dir, ec);
    if (!ec)
        fs::create_directory(dir, ec);
    if (ec) {
        message = "Cannot use the directory " + dir.string() + ": " + ec.message() + "\n";
        return false;
    }
    restrictToOwnerAndGroup(dir);
    return true;
}

UploadStaging::~UploadStaging() {
    removePlaced();
    if (!requestDir_.empty()) {
        std::error_code ec;
        fs::remove_all(requestDir_, ec);
    }
}

std::string UploadStaging::createFile(const std::string& baseName) {
    if (requestDir_.empty()) {
        const fs::path root = incomingUploadsDirectory(serverDir_);
        std::error_code ec;
        const fs::file_status status = fs::symlink_status(root, ec);
        if (fs::exists(status) && !fs::is_directory(status))
            return ""; // a link or file in its place is not ours to follow
        if (!fs::exists(status)) {
            fs::create_directory(root, ec);
            restrictToOwnerAndGroup(root);
        }
        // A directory that exists already is not ours to fill: the next
        // number is tried.
        for (int attempt = 0; attempt < 100 && requestDir_.empty(); ++attempt) {
            const fs::path dir = root / std::to_string(++gNextRequest);
            if (fs::create_directory(dir, ec) && !ec) {
                restrictToOwnerAndGroup(dir);
                requestDir_ = dir.string();
            }
        }
        if (requestDir_.empty())
            return "";
    }
    const std::string path = requestDir_ + TOLVANE_PATH_SEP + baseName;
    return createUploadFile(path) ? path : "";
}

std::string UploadStaging::place(const std::string& path) {
    removePlaced();
    const std::string dir = uploadsDirectory(serverDir_);
    if (ensureUploadsDirectory(dir) != 0)
        return "";
    const std::string target = dir + TOLVANE_PATH_SEP + fs::path(path).filename().string();
    std::error_code ec;
    // Whatever has the name gives way, as when the file was stored there.
    fs::rename(path, target, ec);
    if (ec)
        return "";
    placed_ = target;
    return target;
}

void UploadStaging::removePlaced() {
    if (placed_.empty())
        return;
    std::error_code ec;
    fs::remove(placed_, ec);
    placed_.clear();
}
