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
