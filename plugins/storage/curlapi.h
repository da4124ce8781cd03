// libcurl, loaded on first use: most installations never send an event nor
// fetch an image, and the library with what it pulls in (another TLS stack,
// Kerberos, LDAP) would add about 3 MB to every server's memory. Only built
// where the build has libcurl's headers (TOLVANE_PLUGIN_HAVE_CURL).
#ifndef TOLVANE_PLUGIN_CURLAPI_H
#define TOLVANE_PLUGIN_CURLAPI_H

#ifdef TOLVANE_PLUGIN_HAVE_CURL
#include <curl/curl.h>

namespace tolvane::plugin {

struct CurlApi {
    decltype(&curl_global_init) globalInit = nullptr;
    decltype(&curl_easy_init) easyInit = nullptr;
    decltype(&curl_easy_cleanup) easyCleanup = nullptr;
    decltype(&curl_easy_setopt) easySetopt = nullptr;
    decltype(&curl_easy_perform) easyPerform = nullptr;
    decltype(&curl_easy_getinfo) easyGetinfo = nullptr;
    decltype(&curl_easy_strerror) easyStrerror = nullptr;
    decltype(&curl_slist_append) slistAppend = nullptr;
    decltype(&curl_slist_free_all) slistFreeAll = nullptr;
    bool loaded = false;
};

// The library's entry points; `loaded` is false when libcurl.so.4 is missing.
// Kept for the life of the process: threads may use it until the plug-in ends.
const CurlApi& curlApi();

} // namespace tolvane::plugin

#endif

#endif
