#include "redfishserver/installpaths.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#if !defined(_WIN32)
#include <filesystem>
#endif

char gInstallPath[kPathBufferSize];
char gLogDirectory[kPathBufferSize];
char gOutLogPath[kPathBufferSize];

namespace {

// Copies `value` with its terminating zero when it fits; a path cut short
// would name some other file, so a value that does not fit is refused.
bool storePath(const std::string& value, char* buffer) {
    if (value.size() >= kPathBufferSize)
        return false;
    std::memcpy(buffer, value.c_str(), value.size() + 1);
    return true;
}

} // namespace

std::string serverDirectory() {
    return std::string(gInstallPath) + "RedfishServer" TOLVANE_PATH_SEP;
}

void composeOutLogPath() {
    if (!storePath(std::string(gLogDirectory) + "RedfishServer.out.log", gOutLogPath))
        gOutLogPath[0] = '\0';
}

// Without the Windows registry the two directories come from the environment,
// with defaults relative to the program's own location.
#if !defined(_WIN32)

namespace {

// The folder above the executable's folder, ending with a separator.
bool installPathFromExecutable(std::string& out) {
    std::error_code ec;
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec || exe.empty())
        return false;
    std::string above = exe.parent_path().parent_path().string();
    if (above.empty() || above.back() != '/')
        above += '/';
    out = above;
    return true;
}

} // namespace

int readInstallPath(char* buffer) {
    std::string value;
    if (const char* env = std::getenv("TOLVANE_INSTALL_PATH"))
        value = env;
    else if (!installPathFromExecutable(value))
        return ENOENT;
    return storePath(value, buffer) ? 0 : ENAMETOOLONG;
}

int readLogDirectory(char* buffer) {
    std::string value;
    if (const char* env = std::getenv("TOLVANE_LOG_DIR")) {
        value = env;
    } else {
        char install[kPathBufferSize] = {};
        readInstallPath(install);
        value = std::string(install) + "logs/";
    }
    if (!value.empty() && value.back() != '/')
        value += '/';
    if (!storePath(value, buffer))
        buffer[0] = '\0';
    return 0;
}

#endif
