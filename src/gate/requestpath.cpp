#include "gate/requestpath.h"

#include "postrules.h"

namespace {

bool forbidden(unsigned char c) {
    return c == '?' || c == '#' || c < 0x20 || c == 0x7f;
}

std::string_view withoutTrailingSlash(std::string_view path) {
    if (path.size() > 1 && path.back() == '/')
        path.remove_suffix(1);
    return path;
}

// `path` is `prefix` + "/" + one non-empty segment.
bool isMemberOf(std::string_view path, std::string_view prefix) {
    path = withoutTrailingSlash(path);
    if (path.size() <= prefix.size() + 1 || path[prefix.size()] != '/')
        return false;
    if (!equalsIgnoreCase(path.substr(0, prefix.size()), prefix))
        return false;
    return path.find('/', prefix.size() + 1) == std::string_view::npos;
}

} // namespace

bool decodedPathHasOneMeaning(std::string_view path) {
    for (char c : path) {
        if (forbidden(static_cast<unsigned char>(c)))
            return false;
    }
    return true;
}

bool isSessionCollection(std::string_view path) {
    return equalsIgnoreCase(withoutTrailingSlash(path), "/redfish/v1/SessionService/Sessions");
}

bool isAccountMember(std::string_view path) {
    return isMemberOf(path, "/redfish/v1/AccountService/Accounts");
}

bool isSessionMember(std::string_view path) {
    return isMemberOf(path, "/redfish/v1/SessionService/Sessions");
}

bool samePath(std::string_view a, std::string_view b) {
    return equalsIgnoreCase(withoutTrailingSlash(a), withoutTrailingSlash(b));
}
