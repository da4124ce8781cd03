// The privilege table. Rows are tried in order; the first whose method and
// path pattern match decides. Patterns are relative to "/redfish/v1/", one
// entry per path segment; "*" matches one segment, a final "**" any number
// (none included). Compare with the DMTF privilege registry's entities:
// ManagerAccount/Role/AccountService, Session/SessionService, Manager,
// EventService, TaskService/Task, UpdateService/SoftwareInventory,
// ComputerSystem/Chassis/Storage/Drive/Volume.
#include "session/privileges.h"

#include "gate/requestpath.h"
#include "postrules.h"

namespace {

using namespace privilege;

struct PrivilegeRow {
    const char* method; // "*" for every method not matched by an earlier row
    const char* pattern;
    PrivilegeSet required;
    SelfRule self;
};

const PrivilegeRow kPrivilegeTable[] = {
    {"GET", "**", Login, SelfRule::None},
    {"HEAD", "**", Login, SelfRule::None},
    {"PATCH", "AccountService/Accounts/*", ConfigureUsers, SelfRule::OwnAccountPassword},
    {"*", "AccountService/**", ConfigureUsers, SelfRule::None},
    {"DELETE", "SessionService/Sessions/*", ConfigureManager, SelfRule::OwnSession},
    {"*", "SessionService/**", ConfigureManager, SelfRule::None},
    {"*", "Managers/**", ConfigureManager, SelfRule::None},
    {"*", "EventService/**", ConfigureManager, SelfRule::None},
    // A task's owner may cancel it as well: the plug-in, which knows the
    // owner, lets only the owner and ConfigureManager see or cancel one.
    {"DELETE", "TaskService/Tasks/*", Login, SelfRule::None},
    {"DELETE", "TaskService/TaskMonitors/*", Login, SelfRule::None},
    {"*", "TaskService/**", ConfigureManager, SelfRule::None},
    {"*", "UpdateService/**", ConfigureComponents, SelfRule::None},
    {"*", "Systems/**", ConfigureComponents, SelfRule::None},
    {"*", "Chassis/**", ConfigureComponents, SelfRule::None},
    {"*", "Storage/**", ConfigureComponents, SelfRule::None},
    {"*", "StorageServices/**", ConfigureComponents, SelfRule::None},
    {"*", "StorageSystems/**", ConfigureComponents, SelfRule::None},
    // Anything else changes the service itself.
    {"*", "**", ConfigureManager, SelfRule::None},
};

struct RoleRow {
    const char* id;
    PrivilegeSet privileges;
};

const RoleRow kStandardRoles[] = {
    {"Administrator", All},
    {"Operator", Login | ConfigureComponents | ConfigureSelf},
    {"ReadOnly", Login | ConfigureSelf},
};

const std::pair<const char*, PrivilegeSet> kPrivilegeNames[] = {
    {"Login", Login},
    {"ConfigureManager", ConfigureManager},
    {"ConfigureUsers", ConfigureUsers},
    {"ConfigureSelf", ConfigureSelf},
    {"ConfigureComponents", ConfigureComponents},
};

bool patternMatches(std::string_view pattern, const std::vector<std::string_view>& path) {
    const std::vector<std::string_view> parts = pathSegments(pattern);
    size_t i = 0;
    for (; i < parts.size(); ++i) {
        if (parts[i] == "**")
            return true;
        if (i >= path.size())
            return false;
        if (parts[i] != "*" && !equalsIgnoreCase(parts[i], path[i]))
            return false;
    }
    return i == path.size();
}

} // namespace

PrivilegeSet privilegeNamed(std::string_view name) {
    for (const auto& entry : kPrivilegeNames) {
        if (name == entry.first)
            return entry.second;
    }
    return 0;
}

std::string privilegeNamesOf(PrivilegeSet set) {
    std::string names;
    for (const auto& entry : kPrivilegeNames) {
        if (set & entry.second)
            names += (names.empty() ? "" : ",") + std::string(entry.first);
    }
    return names;
}

PrivilegeSet privilegesNamed(const std::vector<std::string>& names) {
    PrivilegeSet set = 0;
    for (const std::string& name : names)
        set |= privilegeNamed(name);
    return set;
}

std::optional<PrivilegeSet> standardRolePrivileges(std::string_view roleId) {
    for (const RoleRow& row : kStandardRoles) {
        if (roleId == row.id)
            return row.privileges;
    }
    return std::nullopt;
}

AccessRule accessRuleFor(std::string_view method, std::string_view path) {
    std::vector<std::string_view> parts = pathSegments(path);
    // Paths outside the service root match only the catch-all rows.
    static const std::string_view kRoot[] = {"redfish", "v1"};
    if (parts.size() >= 2 && equalsIgnoreCase(parts[0], kRoot[0]) &&
        equalsIgnoreCase(parts[1], kRoot[1]))
        parts.erase(parts.begin(), parts.begin() + 2);
    else
        parts.insert(parts.begin(), std::string_view("\x01")); // matches no name
    for (const PrivilegeRow& row : kPrivilegeTable) {
        if (std::string_view(row.method) != "*" && !equalsIgnoreCase(row.method, method))
            continue;
        if (patternMatches(row.pattern, parts))
            return AccessRule{row.required, row.self};
    }
    return AccessRule{};
}

std::string roleIdOf(std::string_view roleUri) {
    while (!roleUri.empty() && roleUri.back() == '/')
        roleUri.remove_suffix(1);
    const size_t slash = roleUri.rfind('/');
    return std::string(slash == std::string_view::npos ? roleUri : roleUri.substr(slash + 1));
}
