#include "uploadfiles.h"

#include <windows.h>

std::string uploadsDirectory(const std::string& serverDir) {
    return serverDir + "uploads";
}

int ensureUploadsDirectory(const std::string& dir) {
    DWORD attributes = GetFileAttributesA(dir.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return 0;
    if (CreateDirectoryA(dir.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS)
        return 0;
    return static_cast<int>(GetLastError());
}

bool createUploadFile(const std::string& path) {
    DeleteFileA(path.c_str());
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(file);
    return true;
}
