// dlopen, dlsym, dlclose and dladdr for the bundled plug-ins' Windows build,
// over the Windows loader. Only the calls the plug-ins make: finding a module
// already loaded (RTLD_NOLOAD), one of its entry points, and the file of the
// module that holds an address. A module named with the POSIX ending ".so" is
// looked up under its Windows name ".dll".
#ifndef TOLVANE_WINDOWS_DLFCN_H
#define TOLVANE_WINDOWS_DLFCN_H

#include <string>

#include <windows.h>

#define RTLD_LAZY 0x1
#define RTLD_NOW 0x2
#define RTLD_LOCAL 0x0
#define RTLD_NOLOAD 0x4

struct Dl_info {
    const char* dli_fname;
    void* dli_fbase;
    const char* dli_sname;
    void* dli_saddr;
};

namespace tolvane_dlfcn {
template <typename Char> std::basic_string<Char> windowsName(const Char* path) {
    std::basic_string<Char> name(path);
    const Char so[] = {'.', 's', 'o', 0};
    if (name.size() > 3 && name.compare(name.size() - 3, 3, so) == 0) {
        const Char dll[] = {'.', 'd', 'l', 'l', 0};
        name.replace(name.size() - 3, 3, dll);
    }
    return name;
}
} // namespace tolvane_dlfcn

inline void* dlopen(const char* path, int flags) {
    const std::string name = tolvane_dlfcn::windowsName(path);
    HMODULE module = nullptr;
    if (flags & RTLD_NOLOAD)
        GetModuleHandleExA(0, name.c_str(), &module);
    else
        module = LoadLibraryA(name.c_str());
    return reinterpret_cast<void*>(module);
}
inline void* dlopen(const wchar_t* path, int flags) {
    const std::wstring name = tolvane_dlfcn::windowsName(path);
    HMODULE module = nullptr;
    if (flags & RTLD_NOLOAD)
        GetModuleHandleExW(0, name.c_str(), &module);
    else
        module = LoadLibraryW(name.c_str());
    return reinterpret_cast<void*>(module);
}
inline void* dlsym(void* module, const char* name) {
    return module ? reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name))
                  : nullptr;
}
inline int dlclose(void* module) {
    return module && FreeLibrary(static_cast<HMODULE>(module)) ? 0 : -1;
}
inline const char* dlerror() {
    return "Windows loader error";
}
inline int dladdr(const void* address, Dl_info* info) {
    HMODULE module = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCSTR>(address), &module))
        return 0;
    thread_local char file[MAX_PATH + 1];
    const DWORD length = GetModuleFileNameA(module, file, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return 0;
    file[length] = '\0';
    info->dli_fname = file;
    info->dli_fbase = module;
    info->dli_sname = nullptr;
    info->dli_saddr = nullptr;
    return 1;
}

#endif
