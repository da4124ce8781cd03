// The certificate file on Windows.
#include "redfishserver/servercertificate.h"

#include <windows.h>

#include <sddl.h>

#include <string>

namespace {

// The file holds the private key: the local system account, administrators
// and the file's owner only, nothing inherited from the install folder.
const char kCertificateAcl[] = "D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FA;;;OW)";

std::string localHostName() {
    char name[256] = {};
    DWORD size = sizeof(name);
    if (!GetComputerNameExA(ComputerNameDnsHostname, name, &size))
        return std::string();
    return name;
}

std::string windowsError(DWORD code) {
    return "Windows error " + std::to_string(code);
}

// What is at `path` already: nothing (false), or a file to keep or a link to
// refuse.
bool inspectExisting(const std::string& path, CertificateFile& found, std::string& detail) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            return false;
        found = CertificateFile::Failed;
        detail = windowsError(error);
        return true;
    }
    found = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ? CertificateFile::Refused
                                                        : CertificateFile::Existing;
    if (found == CertificateFile::Refused)
        detail = "a symbolic link is not used as the certificate";
    return true;
}

// Writes a new file `path` holding `data`, readable by its owner only; a
// file left half-written is removed.
bool writeNewFile(const std::string& path, const std::string& data, DWORD& error) {
    SECURITY_ATTRIBUTES security{};
    security.nLength = sizeof(security);
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(
            kCertificateAcl, SDDL_REVISION_1, &security.lpSecurityDescriptor, nullptr)) {
        error = GetLastError();
        return false;
    }
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, &security, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    error = GetLastError();
    LocalFree(security.lpSecurityDescriptor);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const bool ok =
        WriteFile(file, data.data(), static_cast<DWORD>(data.size()), &written, nullptr) &&
        written == data.size() && FlushFileBuffers(file);
    error = ok ? ERROR_SUCCESS : GetLastError();
    CloseHandle(file);
    if (!ok)
        DeleteFileA(path.c_str());
    return ok;
}

// Creates `path` holding `data`; fails when anything already has that name.
// The data is written to a temporary beside it and moved into place whole,
// so a crash never leaves an empty file that would block every later start.
bool createExclusiveFile(const std::string& path, const std::string& data, DWORD& error) {
    const std::string temporary = path + "." + std::to_string(GetCurrentProcessId()) + ".tmp";
    if (!writeNewFile(temporary, data, error))
        return false;
    // Without MOVEFILE_REPLACE_EXISTING the move fails when `path` exists.
    if (MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH)) {
        error = ERROR_SUCCESS;
        return true;
    }
    error = GetLastError();
    if (error == ERROR_ALREADY_EXISTS)
        error = ERROR_FILE_EXISTS;
    DeleteFileA(temporary.c_str());
    return false;
}

} // namespace

CertificateFile ensureServerCertificate(const std::string& path, std::string& detail) {
    CertificateFile found = CertificateFile::Failed;
    if (inspectExisting(path, found, detail))
        return found;
    std::string pem = makeSelfSignedCertificatePem(localHostName(), detail);
    if (pem.empty())
        return CertificateFile::Failed;
    DWORD error = ERROR_SUCCESS;
    const bool created = createExclusiveFile(path, pem, error);
    SecureZeroMemory(&pem[0], pem.size());
    if (created)
        return CertificateFile::Created;
    // Another process may have made it in the meantime.
    if (error == ERROR_FILE_EXISTS && inspectExisting(path, found, detail))
        return found;
    detail = windowsError(error);
    return CertificateFile::Failed;
}

std::string replacePrivateFile(const std::string& path, const std::string& text) {
    const std::string temporary = path + "." + std::to_string(GetCurrentProcessId()) + ".tmp";
    DWORD error = ERROR_SUCCESS;
    if (!writeNewFile(temporary, text, error))
        return windowsError(error);
    if (MoveFileExA(temporary.c_str(), path.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return "";
    error = GetLastError();
    DeleteFileA(temporary.c_str());
    return windowsError(error);
}
