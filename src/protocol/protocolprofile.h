// Which protocol profile the server speaks: "Classic" answers every request
// byte for byte as the server always has; "Standard" is a Redfish service
// that standard clients and validators expect.
#ifndef TOLVANE_PROTOCOLPROFILE_H
#define TOLVANE_PROTOCOLPROFILE_H

#include <string_view>

enum class ProtocolProfile { Classic, Standard };

// The profile a "RedfishProtocolProfile" value names: "Standard" (any letter
// case) or, for an absent, empty or unknown value, Classic.
ProtocolProfile profileNamed(std::string_view value);

// Whether `value` names a profile at all ("" counts: the key is optional).
bool isKnownProfileName(std::string_view value);

// The configured profile (ServerConfig.RedfishProtocolProfile).
ProtocolProfile protocolProfile();

// What a profile does, as data: the roads ask these rules, never the profile.
struct ProfileRules {
    bool standardAnswers;            // lengths, kept connections, Redfish error objects
    bool engineErrorsAsRedfish;      // the engine's own errors too; unknown methods 501
    bool listensOnIpv6;              // one socket for IPv4 and IPv6
    bool keepsConnections;           // idle kept connections closed after 2 s
    bool idleSessionTimeout;         // SessionTimeout: idle seconds an administrator sets
    bool basicAuthentication;        // Basic credentials on every request
    bool checksODataVersion;         // an OData-Version other than 4.0 is refused
    bool membersPathIsCollection;    // a POST to ".../Members" goes to the collection
    bool odataDocuments;             // the standard root, the OData documents
    bool xmlSchemaFiles;             // CSDL schema files as application/xml
    bool checksIfMatch;              // If-Match on PATCH and DELETE
    bool sessionServiceBeforeLogin;  // the session service document without a session
    bool refusesUnusableRoleAtLogin; // a role the gate would refuse gets no token
    bool pagesCollections;           // $top and $skip reach the plug-in; only $expand expands
    bool certificateService;         // the server's certificate resources and their actions
};

// The rules of the configured profile.
const ProfileRules& profileRules();

#endif
