/* DMTF's standard Redfish roles and the privileges each grants: one list for
 * the server, which applies it to plug-ins that serve no role documents, and
 * for plug-ins that serve role documents of their own. */
#ifndef REDFISH_STANDARD_ROLES_H
#define REDFISH_STANDARD_ROLES_H

struct RedfishStandardRole {
    const char* id;
    const char* description;
    const char* privileges[6]; /* ends with a null entry */
};

static const struct RedfishStandardRole kRedfishStandardRoles[] = {
    {"Administrator",
     "Manages users, the service and the storage",
     {"Login", "ConfigureManager", "ConfigureUsers", "ConfigureSelf", "ConfigureComponents", 0}},
    {"Operator", "Manages the storage", {"Login", "ConfigureSelf", "ConfigureComponents", 0}},
    {"ReadOnly", "Reads the service and changes its own password", {"Login", "ConfigureSelf", 0}},
};

#endif
