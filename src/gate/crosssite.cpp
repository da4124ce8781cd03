#include "gate/crosssite.h"

#include <string>

#include "postrules.h"

namespace {

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

// The media type without its parameters.
std::string_view mediaType(const char* contentType) {
    std::string_view type = contentType ? contentType : "";
    const size_t semicolon = type.find(';');
    if (semicolon != std::string_view::npos)
        type = type.substr(0, semicolon);
    return trimmed(type);
}

// "https://host:port" gives "host:port"; "" for anything that is no origin.
std::string_view originAuthority(std::string_view origin) {
    const size_t scheme = origin.find("://");
    if (scheme == std::string_view::npos)
        return {};
    std::string_view rest = origin.substr(scheme + 3);
    if (rest.find_first_of("/?#@") != std::string_view::npos)
        return {};
    return rest;
}

} // namespace

bool cookieRequestAllowed(const CrossSiteFacts& facts) {
    if (equalsIgnoreCase(facts.method, "GET") || equalsIgnoreCase(facts.method, "HEAD"))
        return true;
    if (facts.secFetchSite && equalsIgnoreCase(trimmed(facts.secFetchSite), "cross-site"))
        return false;
    if (facts.origin) {
        const std::string_view authority = originAuthority(trimmed(facts.origin));
        const std::string_view host = trimmed(facts.host ? facts.host : "");
        if (authority.empty() || host.empty() || !equalsIgnoreCase(authority, host))
            return false;
    }
    const std::string_view type = mediaType(facts.contentType);
    if (facts.multipartRoad)
        return equalsIgnoreCase(type, "multipart/form-data");
    if (equalsIgnoreCase(facts.method, "DELETE") && type.empty())
        return true; // a browser preflights a cross-site DELETE, which we never allow
    return equalsIgnoreCase(type, "application/json");
}
