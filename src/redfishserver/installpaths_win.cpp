// The installation and log directories from the registry.
#include "redfishserver/installpaths.h"

#include <cstring>

#include <windows.h>

namespace {

const char* const kInstallKey = "SOFTWARE\\Quorvex\\RAIDController\\ZLR";
const char* const kLogKey = "SOFTWARE\\Quorvex\\RAIDController";

// Reads one value of HKEY_LOCAL_MACHINE\`subKey` into `local` (cleared, at
// most 1023 bytes). Returns the status of the last registry call; `opened`
// tells whether the key could be opened.
LONG queryDirectory(const char* subKey, const char* valueName, char* local, bool& opened) {
    std::memset(local, 0, kPathBufferSize);
    HKEY key = nullptr;
    LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, subKey, 0, KEY_ALL_ACCESS, &key);
    opened = status == ERROR_SUCCESS;
    if (!opened)
        return status;
    DWORD size = kPathBufferSize - 1;
    status =
        RegQueryValueExA(key, valueName, nullptr, nullptr, reinterpret_cast<LPBYTE>(local), &size);
    if (status != ERROR_SUCCESS)
        std::memset(local, 0, kPathBufferSize);
    local[kPathBufferSize - 1] = '\0';
    RegCloseKey(key);
    return status;
}

void copyPath(char* target, const char* local) {
    std::strncpy(target, local, kPathBufferSize - 1);
    target[kPathBufferSize - 1] = '\0';
}

} // namespace

int readInstallPath(char* buffer) {
    char local[kPathBufferSize];
    bool opened = false;
    LONG status = queryDirectory(kInstallKey, "INSTALL_PATH", local, opened);
    if (!opened)
        return static_cast<int>(status);
    copyPath(buffer, local);
    return static_cast<int>(status);
}

int readLogDirectory(char* buffer) {
    char local[kPathBufferSize];
    bool opened = false;
    queryDirectory(kLogKey, "LogDir", local, opened);
    size_t length = std::strlen(local);
    if (length > 0 && local[length - 1] != '\\') {
        // A value of 1023 characters leaves no room for the separator; without
        // it every log file name would run into the directory name.
        if (length + 1 < kPathBufferSize) {
            local[length] = '\\';
            local[length + 1] = '\0';
        } else {
            local[0] = '\0';
        }
    }
    copyPath(buffer, local);
    return 0;
}
