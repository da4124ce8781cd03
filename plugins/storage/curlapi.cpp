#include "curlapi.h"

#ifdef TOLVANE_PLUGIN_HAVE_CURL

#include <dlfcn.h>

namespace tolvane::plugin {

namespace {

template <typename Fn> bool bind(void* library, const char* name, Fn& fn) {
    fn = reinterpret_cast<Fn>(::dlsym(library, name));
    return fn != nullptr;
}

} // namespace

const CurlApi& curlApi() {
    static const CurlApi loaded = [] {
        CurlApi c;
        void* library = ::dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
        if (!library)
            return c;
        c.loaded = bind(library, "curl_global_init", c.globalInit) &&
                   bind(library, "curl_easy_init", c.easyInit) &&
                   bind(library, "curl_easy_cleanup", c.easyCleanup) &&
                   bind(library, "curl_easy_setopt", c.easySetopt) &&
                   bind(library, "curl_easy_perform", c.easyPerform) &&
                   bind(library, "curl_easy_getinfo", c.easyGetinfo) &&
                   bind(library, "curl_easy_strerror", c.easyStrerror) &&
                   bind(library, "curl_slist_append", c.slistAppend) &&
                   bind(library, "curl_slist_free_all", c.slistFreeAll);
        if (c.loaded)
            c.globalInit(CURL_GLOBAL_DEFAULT);
        return c;
    }();
    return loaded;
}

} // namespace tolvane::plugin

#endif
