// The built-in table, for plug-ins that do not declare their resources
// (protocol/declaredresources.h). Rows are tried in order; the first whose pattern matches decides.
// Patterns are relative to "/redfish/v1/", one entry per path segment, "*"
// matching one segment. They follow the Redfish resource model: collections
// that create members take POST, members that can change take PATCH, those
// that can go take DELETE, actions take POST only.
#include "protocol/allowedmethods.h"

#include <vector>

#include "gate/requestpath.h"
#include "protocol/declaredresources.h"
#include "postrules.h"

namespace {

struct MethodRow {
    const char* pattern;
    const char* allow;
};

const char* const kReadOnly = "GET, HEAD";

const MethodRow kMethodTable[] = {
    {"SessionService", "GET, HEAD, PATCH"}, // first: the server serves its PATCH
    {"SessionService/Sessions", "GET, HEAD, POST"},
    {"SessionService/Sessions/*", "GET, HEAD, DELETE"},
    {"AccountService", "GET, HEAD, PATCH"},
    {"AccountService/Accounts", "GET, HEAD, POST"},
    {"AccountService/Accounts/*", "GET, HEAD, PATCH, DELETE"},
    {"EventService/Subscriptions", "GET, HEAD, POST"},
    {"EventService/Subscriptions/*", "GET, HEAD, DELETE"},
    {"Systems/*/Storage/*/Volumes", "GET, HEAD, POST"},
    {"Systems/*/Storage/*/Volumes/*", "GET, HEAD, PATCH, DELETE"},
    {"Chassis/*", "GET, HEAD, PATCH"},
    {"Chassis/*/Drives/*", "GET, HEAD, PATCH"},
    {"TaskService/Tasks/*", "GET, HEAD, DELETE"},
    {"TaskService/TaskMonitors/*", "GET, HEAD, DELETE"},
    {"UpdateService/MultipartUpload", "POST"},
};

bool matches(std::string_view pattern, const std::vector<std::string_view>& path) {
    const std::vector<std::string_view> parts = pathSegments(pattern);
    if (parts.size() != path.size())
        return false;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (parts[i] != "*" && !equalsIgnoreCase(parts[i], path[i]))
            return false;
    }
    return true;
}

} // namespace

std::string allowedMethodsOf(std::string_view path) {
    std::vector<std::string_view> parts = pathSegments(path);
    if (parts.size() < 2 || !equalsIgnoreCase(parts[0], "redfish") ||
        !equalsIgnoreCase(parts[1], "v1"))
        return kReadOnly;
    parts.erase(parts.begin(), parts.begin() + 2);
    // An action is a POST and nothing else.
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
        if (equalsIgnoreCase(parts[i], "Actions"))
            return "POST";
    }
    // The session service's time-out is the server's own setting, whatever
    // the plug-in declares.
    if (std::optional<std::string> declared = declaredAllowOf(path))
        return matches("SessionService", parts) ? kMethodTable[0].allow : *declared;
    for (const MethodRow& row : kMethodTable) {
        if (matches(row.pattern, parts))
            return row.allow;
    }
    return kReadOnly;
}
