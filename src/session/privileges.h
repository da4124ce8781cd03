// The Redfish privilege model: which privilege a request needs, and which
// privileges a role grants. The rules are generated from DMTF's Privilege
// Registry (privilegeregistry.h).
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

// Privilege sets any one of which allows an operation; every privilege of
// the set is needed. A set holding ConfigureSelf applies only to the
// caller's own resource.
struct Requirement {
    uint8_t count = 0; // 0: the registry names no rule for the method
    PrivilegeSet anyOf[3] = {};
};

// How the gate tells that a resource is the caller's own.
enum class SelfRule {
    None,       // it cannot: ConfigureSelf grants nothing here
    OwnAccount, // the account whose UserName is the caller's
    OwnSession, // the session the caller holds
};

struct AccessRule {
    Requirement required;
    SelfRule self = SelfRule::None;
    // When a request changes only these members (comma-separated), the
    // registry's property override `forProperties` decides instead.
    const char* properties = nullptr;
    Requirement forProperties;
};

// The rule for `method` on the normalised request path `path`
// ("/redfish/v1/..."; letter case and one trailing "/" do not matter), from
// DMTF's Privilege Registry for the entity the path names (or the nearest
// entity above it); reads need Login and writes ConfigureManager where the
// path names no entity.
AccessRule registryRuleFor(std::string_view method, std::string_view path);

// Whether `held` meets `required`; `own`: the resource is the caller's.
bool meets(const Requirement& required, PrivilegeSet held, bool own);

// Whether only a set holding ConfigureSelf could grant it: then whose the
// resource is decides.
bool onlyOwnershipCanGrant(const Requirement& required, PrivilegeSet held);

// Whether every member named in `changed` is one of `properties`
// (comma-separated), and there is at least one.
bool onlyTheseChange(const std::vector<std::string>& changed, const char* properties);

// The last segment of a role URI ("/redfish/v1/AccountService/Roles/Operator"
// gives "Operator"); the text itself when it has no "/".
std::string roleIdOf(std::string_view roleUri);

#endif
