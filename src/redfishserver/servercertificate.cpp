// The certificate file on POSIX systems.
#if !defined(_WIN32)
#include "redfishserver/servercertificate.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/crypto.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "redfishserver/exclusivefile.h"

namespace {

// Owner only: the file holds the private key.
constexpr mode_t kCertificateMode = 0600;

std::string localHostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0)
        return std::string();
    return name;
}

// What is at `path` already: nothing (false), or a file to keep or a link to
// refuse.
bool inspectExisting(const std::string& path, CertificateFile& found, std::string& detail) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) {
        if (errno == ENOENT)
            return false;
        found = CertificateFile::Failed;
        detail = std::strerror(errno);
        return true;
    }
    found = S_ISLNK(st.st_mode) ? CertificateFile::Refused : CertificateFile::Existing;
    if (found == CertificateFile::Refused)
        detail = "a symbolic link is not used as the certificate";
    return true;
}

} // namespace

CertificateFile ensureServerCertificate(const std::string& path, std::string& detail) {
    CertificateFile found = CertificateFile::Failed;
    if (inspectExisting(path, found, detail))
        return found;
    std::string pem = makeSelfSignedCertificatePem(localHostName(), detail);
    if (pem.empty())
        return CertificateFile::Failed;
    const bool created = createExclusiveFile(path, pem, kCertificateMode);
    const int error = errno;
    OPENSSL_cleanse(&pem[0], pem.size());
    if (created)
        return CertificateFile::Created;
    // Another process may have made it in the meantime.
    if (error == EEXIST && inspectExisting(path, found, detail))
        return found;
    detail = std::strerror(error);
    return CertificateFile::Failed;
}

std::string replacePrivateFile(const std::string& path, const std::string& text) {
    const std::string temporary = path + "." + std::to_string(getpid()) + ".tmp";
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                        kCertificateMode);
    if (fd < 0)
        return std::strerror(errno);
    // The umask may have narrowed the mode; nothing may have widened it.
    bool ok = fchmod(fd, kCertificateMode) == 0;
    for (size_t done = 0; ok && done < text.size();) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        done += ok ? static_cast<size_t>(n) : 0;
    }
    ok = ok && fsync(fd) == 0;
    const int error = errno;
    ok = close(fd) == 0 && ok;
    if (ok && std::rename(temporary.c_str(), path.c_str()) == 0)
        return "";
    const std::string reason = std::strerror(ok ? errno : error);
    unlink(temporary.c_str());
    return reason;
}
#endif
