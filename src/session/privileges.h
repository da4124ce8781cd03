// The Redfish privilege model: which privilege a request needs, and which
// privileges a role grants. The table itself is in privileges.cpp, kept in
// the shape of the DMTF privilege registry so it can be checked against it.
#ifndef TOLVANE_PRIVILEGES_H
#define TOLVANE_PRIVILEGES_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

using PrivilegeSet = uint8_t;

namespace privilege {
constexpr PrivilegeSet Login = 1u << 0;
constexpr PrivilegeSet ConfigureManager = 1u << 1;
constexpr PrivilegeSet ConfigureUsers = 1u << 2;
constexpr PrivilegeSet ConfigureSelf = 1u << 3;
constexpr PrivilegeSet ConfigureComponents = 1u << 4;
constexpr PrivilegeSet All =
    Login | ConfigureManager | ConfigureUsers | ConfigureSelf | ConfigureComponents;
} // namespace privilege

// The privilege named `name` (Redfish spelling, exact), 0 for any other text.
PrivilegeSet privilegeNamed(std::string_view name);

// The names of `set`, comma-separated ("Login,ConfigureComponents").
std::string privilegeNamesOf(PrivilegeSet set);

// The privileges of a list of names; unknown names grant nothing.
PrivilegeSet privilegesNamed(const std::vector<std::string>& names);

// Privileges of the standard roles (Administrator, Operator, ReadOnly), for
// plug-ins that serve no role documents; nothing for any other role.
std::optional<PrivilegeSet> standardRolePrivileges(std::string_view roleId);

// When a caller lacking the required privilege may still act on its own
// behalf with ConfigureSelf alone.
enum class SelfRule {
    None,
    OwnAccountPassword, // PATCH of the caller's own account, password only
    OwnSession,         // DELETE of the caller's own session
};

struct AccessRule {
    PrivilegeSet required = privilege::ConfigureManager;
    SelfRule self = SelfRule::None;
};

// The rule for `method` on the normalised request path `path`
// ("/redfish/v1/..."; letter case and one trailing "/" do not matter).
AccessRule accessRuleFor(std::string_view method, std::string_view path);

// The last segment of a role URI ("/redfish/v1/AccountService/Roles/Operator"
// gives "Operator"); the text itself when it has no "/".
std::string roleIdOf(std::string_view roleUri);

#endif
