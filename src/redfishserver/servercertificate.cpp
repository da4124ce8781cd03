// The certificate file on POSIX systems.
#if !defined(_WIN32)
#include "redfishserver/servercertificate.h"

#include <sys/stat.h>
#include <unistd.h>

#include <openssl/crypto.h>

#include <cerrno>
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
#endif
