// The privilege rules: DMTF's Privilege Registry as generated into the build
// (privilegeregistry.h), looked up by the entity a request path names. The
// route table (routes/routetable.h) adds where this service departs from it.
#include "session/privileges.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <memory>

#include "RedfishStandardRoles.h"
#include "gate/requestpath.h"
#include "postrules.h"
#include "session/privilegeregistry.h"

namespace {

using namespace privilege;
using namespace privilegeregistry;

const std::pair<const char*, PrivilegeSet> kPrivilegeNames[] = {
    {"Login", Login},
    {"ConfigureManager", ConfigureManager},
    {"ConfigureUsers", ConfigureUsers},
    {"ConfigureSelf", ConfigureSelf},
    {"ConfigureComponents", ConfigureComponents},
};

std::string lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

// The entity URI patterns as a tree of segments; letter case does not matter.
struct UriNode {
    std::map<std::string, std::unique_ptr<UriNode>> named; // lower case
    std::unique_ptr<UriNode> any;                          // "*"
    int entity = -1;
};

UriNode* childOf(UriNode& node, std::string_view segment) {
    std::unique_ptr<UriNode>& child = segment == "*" ? node.any : node.named[lower(segment)];
    if (!child)
        child = std::make_unique<UriNode>();
    return child.get();
}

const UriNode& uriTree() {
    static const std::unique_ptr<UriNode> root = [] {
        auto tree = std::make_unique<UriNode>();
        auto nodeOf = [&](std::string_view pattern) {
            UriNode* node = tree.get();
            for (std::string_view segment : pathSegments(pattern))
                node = childOf(*node, segment);
            return node;
        };
        for (size_t i = 0; i < kUriCount; ++i)
            nodeOf(kUris[i].pattern)->entity = kUris[i].entity;
        return tree;
    }();
    return *root;
}

// The node matching the first `end` segments of `path` (a named segment
// before "*"), or null.
const UriNode* find(const UriNode& node, const std::vector<std::string>& path, size_t at,
                    size_t end) {
    if (at == end)
        return &node;
    auto named = node.named.find(path[at]);
    if (named != node.named.end()) {
        if (const UriNode* found = find(*named->second, path, at + 1, end))
            return found;
    }
    return node.any ? find(*node.any, path, at + 1, end) : nullptr;
}

AccessRule ruleOf(const Requirement& required) {
    AccessRule rule;
    rule.required = required;
    return rule;
}

int methodRow(std::string_view method) {
    static const char* const kRows[kMethodRows] = {"GET", "HEAD", "PATCH", "PUT", "DELETE", "POST"};
    for (int i = 0; i < kMethodRows; ++i) {
        if (equalsIgnoreCase(kRows[i], method))
            return i;
    }
    return -1;
}

bool isRead(std::string_view method) {
    return equalsIgnoreCase(method, "GET") || equalsIgnoreCase(method, "HEAD");
}

bool listed(std::string_view list, std::string_view name) {
    while (!list.empty()) {
        const size_t comma = list.find(',');
        if (list.substr(0, comma) == name)
            return true;
        if (comma == std::string_view::npos)
            break;
        list.remove_prefix(comma + 1);
    }
    return false;
}

// Every target of a subordinate override is an entity above the resource.
bool allAbove(std::string_view targets, const std::vector<int>& above) {
    while (!targets.empty()) {
        const size_t comma = targets.find(',');
        const std::string_view target = targets.substr(0, comma);
        if (std::none_of(above.begin(), above.end(),
                         [&](int e) { return target == kEntities[e].entity; }))
            return false;
        if (comma == std::string_view::npos)
            break;
        targets.remove_prefix(comma + 1);
    }
    return true;
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
    for (const RedfishStandardRole& role : kRedfishStandardRoles) {
        if (roleId != role.id)
            continue;
        PrivilegeSet set = 0;
        for (const char* const* name = role.privileges; *name; ++name)
            set |= privilegeNamed(*name);
        return set;
    }
    return std::nullopt;
}

AccessRule registryRuleFor(std::string_view method, std::string_view path) {
    const Requirement fallback{1, {isRead(method) ? Login : ConfigureManager}};
    std::vector<std::string> parts;
    for (std::string_view segment : pathSegments(path))
        parts.push_back(lower(segment));
    const int row = methodRow(method);
    if (parts.size() < 2 || parts[0] != "redfish" || parts[1] != "v1" || row < 0)
        return ruleOf(fallback);
    parts.erase(parts.begin(), parts.begin() + 2);

    const UriNode& tree = uriTree();
    // The entities the path and the paths above it name; the nearest decides
    // (an action or an OEM part below an entity is that entity's), the
    // service root only for itself.
    std::vector<int> above;
    int entity = -1;
    bool exact = false;
    for (size_t n = parts.empty() ? 0 : 1; n <= parts.size(); ++n) {
        const UriNode* node = find(tree, parts, 0, n);
        if (!node || node->entity < 0)
            continue;
        if (entity >= 0)
            above.push_back(entity);
        entity = node->entity;
        exact = n == parts.size();
    }
    if (entity < 0 || (!exact && parts.size() > 0 && above.empty() &&
                       std::string_view(kEntities[entity].entity) == "ServiceRoot"))
        return ruleOf(fallback);

    AccessRule rule;
    rule.required = kEntities[entity].byMethod[row];
    for (size_t i = 0; i < kOverrideCount; ++i) {
        const EntityOverride& o = kOverrides[i];
        if (o.entity != entity || o.byMethod[row].count == 0)
            continue;
        if (o.kind == OverrideKind::Subordinate && allAbove(o.targets, above)) {
            rule.required = o.byMethod[row];
        } else if (o.kind == OverrideKind::Property && exact) {
            rule.properties = o.targets;
            rule.forProperties = o.byMethod[row];
        }
    }
    if (rule.required.count == 0)
        rule.required = fallback;
    const std::string_view name = kEntities[entity].entity;
    if (exact)
        rule.self = name == "ManagerAccount" ? SelfRule::OwnAccount
                    : name == "Session"      ? SelfRule::OwnSession
                                             : SelfRule::None;
    return rule;
}

bool meets(const Requirement& required, PrivilegeSet held, bool own) {
    for (uint8_t i = 0; i < required.count; ++i) {
        const PrivilegeSet set = required.anyOf[i];
        if ((held & set) == set && (own || !(set & ConfigureSelf)))
            return true;
    }
    return false;
}

bool onlyOwnershipCanGrant(const Requirement& required, PrivilegeSet held) {
    return !meets(required, held, false) && meets(required, held, true);
}

bool onlyTheseChange(const std::vector<std::string>& changed, const char* properties) {
    return properties && !changed.empty() &&
           std::all_of(changed.begin(), changed.end(),
                       [&](const std::string& member) { return listed(properties, member); });
}

std::string roleIdOf(std::string_view roleUri) {
    while (!roleUri.empty() && roleUri.back() == '/')
        roleUri.remove_suffix(1);
    const size_t slash = roleUri.rfind('/');
    return std::string(slash == std::string_view::npos ? roleUri : roleUri.substr(slash + 1));
}
