#include "protocol/requestrules.h"

#include "civetweb.h"
#include "gate/redfisherrors.h"
#include "protocol/protocolprofile.h"

bool refuseUnsupportedODataVersion(struct mg_connection* conn) {
    if (protocolProfile() != ProtocolProfile::Standard)
        return false;
    const char* version = mg_get_header(conn, "OData-Version");
    if (!version || std::string(version) == kODataVersion)
        return false;
    writeErrorAnswer(conn, 412, redfisherror::headerInvalid("OData-Version"));
    return true;
}

std::string postTargetOf(const std::string& path) {
    if (protocolProfile() != ProtocolProfile::Standard)
        return path;
    std::string trimmed = path;
    if (!trimmed.empty() && trimmed.back() == '/')
        trimmed.pop_back();
    const std::string suffix = "/Members";
    if (trimmed.size() > suffix.size() &&
        trimmed.compare(trimmed.size() - suffix.size(), suffix.size(), suffix) == 0)
        return trimmed.substr(0, trimmed.size() - suffix.size());
    return path;
}
