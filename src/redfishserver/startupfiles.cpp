#include "redfishserver/startupfiles.h"

#include <filesystem>
#include <system_error>

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include "redfishserver/httpoptions.h"
#include "redfishserver/installpaths.h"
#include "redfishserver/servercertificate.h"
#include "intake/uploadstaging.h"
#include "uploadfiles.h"

namespace fs = std::filesystem;

namespace {

// Directories the server creates: owner all, group read and search.
constexpr fs::perms kDirectoryPerms =
    fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec;
#if !defined(_WIN32)
constexpr mode_t kFileCreationMask = 027;
#endif

// Files and links go; a directory is not something the server leaves there.
bool isLeftover(const fs::directory_entry& entry, std::error_code& ec) {
    const fs::file_status status = entry.symlink_status(ec);
    return !ec && (fs::is_regular_file(status) || fs::is_symlink(status));
}

} // namespace

void restrictNewFileModes() {
#if !defined(_WIN32)
    umask(kFileCreationMask);
#endif
}

void prepareLogDirectory() {
    std::string dir = gLogDirectory;
    // Without its final separator, so the last folder counts as created.
    while (dir.size() > 1 && (dir.back() == '/' || dir.back() == '\\'))
        dir.pop_back();
    if (dir.empty())
        return;
    std::error_code ec;
    if (fs::create_directories(dir, ec))
        fs::permissions(dir, kDirectoryPerms, ec);
}

bool prepareServerCertificate(std::string& message) {
    const std::string path = serverCertificatePath();
    std::string detail;
    switch (ensureServerCertificate(path, detail)) {
    case CertificateFile::Existing:
        detail = certificateFileProblem(path);
        if (!detail.empty()) {
            message = "Cannot use the certificate " + path + ": " + detail +
                      ". Replace it with a certificate and its private key in PEM, or delete "
                      "it to have a new one made on the next start\n";
            return false;
        }
        message.clear();
        return true;
    case CertificateFile::Created:
        message = "Created a self-signed certificate " + path + "\n";
        return true;
    case CertificateFile::Refused:
    case CertificateFile::Failed:
        break;
    }
    message = "Cannot use the certificate " + path + ": " + detail + "\n";
    return false;
}

bool emptyUploadsDirectory(std::string& message) {
    const std::string dir = uploadsDirectory(serverDirectory());
    std::error_code ec;
    // A link in the directory's place would have files elsewhere removed.
    if (fs::is_symlink(fs::symlink_status(dir, ec))) {
        message = "Cannot use the uploads directory " + dir + ": it is a symbolic link\n";
        return false;
    }
    if (int error = ensureUploadsDirectory(dir)) {
        message = "Cannot use the uploads directory " + dir + ": " +
                  std::generic_category().message(error) + "\n";
        return false;
    }
    for (fs::directory_iterator it(dir, ec); !ec && it != fs::directory_iterator();
         it.increment(ec)) {
        if (isLeftover(*it, ec))
            fs::remove(it->path(), ec);
        if (ec)
            break;
    }
    if (ec) {
        message = "Cannot empty the uploads directory " + dir + ": " + ec.message() + "\n";
        return false;
    }
    return resetIncomingUploads(serverDirectory(), message);
}
