// The shapes of the privilege table generated at build time from DMTF's
// Privilege Registry (scripts/privilegeregistry.py): each entity's operation
// map, the URI patterns of each entity, and the registry's overrides.
#ifndef TOLVANE_PRIVILEGEREGISTRY_H
#define TOLVANE_PRIVILEGEREGISTRY_H

#include <cstddef>
#include <cstdint>

#include "session/privileges.h"

namespace privilegeregistry {

// The methods of an operation map, in the order of its rows.
enum MethodRow { Get, Head, Patch, Put, Delete, Post, kMethodRows };

struct EntityPrivileges {
    const char* entity;
    Requirement byMethod[kMethodRows];
};

// A URI pattern relative to "/redfish/v1/", one "*" per "{Id}" segment.
struct EntityUri {
    const char* pattern;
    uint16_t entity; // index into kEntities
};

enum class OverrideKind {
    Subordinate, // applies below every entity of `targets`
    Property,    // applies when a request changes only the `targets` properties
};

struct EntityOverride {
    OverrideKind kind;
    uint16_t entity;
    const char* targets; // comma-separated entity or property names
    Requirement byMethod[kMethodRows];
};

extern const EntityPrivileges kEntities[];
extern const size_t kEntityCount;
extern const EntityUri kUris[];
extern const size_t kUriCount;
extern const EntityOverride kOverrides[];
extern const size_t kOverrideCount;

} // namespace privilegeregistry

#endif
