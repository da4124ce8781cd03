// The Windows loader behind the plug-in host: LoadLibraryA / GetProcAddress.
#include <windows.h>

#include <string>

#include "pluginhost.h"
#include "pluginloader.h"

namespace {
DWORD gLastLoadError = 0;
std::string gLastLoadPath;
} // namespace

RedfishModuleHandle openPluginLibrary(const std::string& path) {
    HMODULE module = LoadLibraryA(path.c_str());
    if (!module) {
        gLastLoadError = GetLastError();
        gLastLoadPath = path;
    }
    return reinterpret_cast<RedfishModuleHandle>(module);
}

std::string pluginLoadError() {
    if (gLastLoadError == 0)
        return std::string();
    char* text = nullptr;
    DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, gLastLoadError, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
    std::string reason = "error " + std::to_string(gLastLoadError);
    if (length && text) {
        reason.assign(text, length);
        while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r'))
            reason.pop_back();
    }
    if (text)
        LocalFree(text);
    return gLastLoadPath + ": " + reason;
}

void* pluginSymbol(RedfishModuleHandle module, const char* name) {
    if (!module || !name)
        return nullptr;
    FARPROC entry = GetProcAddress(reinterpret_cast<HMODULE>(module), name);
    return reinterpret_cast<void*>(entry);
}
