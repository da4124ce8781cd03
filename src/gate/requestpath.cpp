#include "gate/requestpath.h"

#include "postrules.h"

namespace {

bool forbidden(unsigned char c) {
    return c == '?' || c == '#' || c < 0x20 || c == 0x7f;
}

// `path` is `collection` and one more segment, as segments compare.
bool isMemberOf(std::string_view path, std::string_view collection) {
    const std::vector<std::string_view> parts = pathSegments(path);
    const std::vector<std::string_view> base = pathSegments(collection);
    if (parts.size() != base.size() + 1)
        return false;
    for (size_t i = 0; i < base.size(); ++i) {
        if (!equalsIgnoreCase(parts[i], base[i]))
            return false;
    }
    return true;
}

} // namespace

bool decodedPathHasOneMeaning(std::string_view path) {
    for (char c : path) {
        if (forbidden(static_cast<unsigned char>(c)))
            return false;
    }
    return true;
}

std::vector<std::string_view> pathSegments(std::string_view path) {
    std::vector<std::string_view> out;
    size_t pos = 0;
    while (pos < path.size()) {
        size_t end = path.find('/', pos);
        if (end == std::string_view::npos)
            end = path.size();
        if (end > pos)
            out.push_back(path.substr(pos, end - pos));
        pos = end + 1;
    }
    return out;
}

std::string canonicalPath(std::string_view path) {
    std::string out;
    for (std::string_view segment : pathSegments(path)) {
        out += '/';
        out += segment;
    }
    return out.empty() ? "/" : out;
}

bool isSessionCollection(std::string_view path) {
    // Strict on purpose: a look-alike is refused as no login, which is safe.
    if (path.size() > 1 && path.back() == '/')
        path.remove_suffix(1);
    return equalsIgnoreCase(path, "/redfish/v1/SessionService/Sessions");
}

bool isAccountMember(std::string_view path) {
    return isMemberOf(path, "/redfish/v1/AccountService/Accounts");
}

bool isSessionMember(std::string_view path) {
    return isMemberOf(path, "/redfish/v1/SessionService/Sessions");
}

bool samePath(std::string_view a, std::string_view b) {
    return equalsIgnoreCase(canonicalPath(a), canonicalPath(b));
}
