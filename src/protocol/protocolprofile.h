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

#endif
