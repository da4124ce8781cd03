#include "protocol/protocolprofile.h"

#include <cctype>

#include "redfishserver/serverconfig.h"

namespace {
bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// Each rule as the profile has it: the classic profile answers as the server
// always has, the standard one as a Redfish service must.
ProfileRules rulesOf(bool standard) {
    ProfileRules rules{};
    rules.standardAnswers = standard;
    rules.engineErrorsAsRedfish = standard;
    rules.listensOnIpv6 = standard;
    rules.keepsConnections = standard;
    rules.idleSessionTimeout = standard;
    rules.basicAuthentication = standard;
    rules.checksODataVersion = standard;
    rules.membersPathIsCollection = standard;
    rules.odataDocuments = standard;
    rules.xmlSchemaFiles = standard;
    rules.checksIfMatch = standard;
    rules.sessionServiceBeforeLogin = !standard;
    rules.refusesUnusableRoleAtLogin = standard;
    rules.pagesCollections = standard;
    rules.certificateService = standard;
    return rules;
}

const ProfileRules kClassicRules = rulesOf(false);
const ProfileRules kStandardRules = rulesOf(true);
} // namespace

ProtocolProfile profileNamed(std::string_view value) {
    return equalsIgnoringCase(value, "Standard") ? ProtocolProfile::Standard
                                                 : ProtocolProfile::Classic;
}

bool isKnownProfileName(std::string_view value) {
    return value.empty() || equalsIgnoringCase(value, "Classic") ||
           equalsIgnoringCase(value, "Standard");
}

ProtocolProfile protocolProfile() {
    return profileNamed(ServerConfig.RedfishProtocolProfile);
}

const ProfileRules& profileRules() {
    return protocolProfile() == ProtocolProfile::Standard ? kStandardRules : kClassicRules;
}
