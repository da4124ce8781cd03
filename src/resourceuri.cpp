// Resource URIs of PATCH and DELETE.
#include "resourceuri.h"

#include "civetweb_ext.h"

std::string resourceUri(const std::string& path) {
    const char* at = mg_strcasestr(path.c_str(), "/redfish");
    if (!at)
        return path; // routing matched "/redfish", so this is only a fallback
    return std::string(at);
}
