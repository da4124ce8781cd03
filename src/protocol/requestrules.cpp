#include "protocol/requestrules.h"

#include <string_view>

#include "civetweb.h"
#include "gate/redfisherrors.h"
#include "postrules.h"
#include "protocol/protocolprofile.h"

bool refuseUnsupportedODataVersion(struct mg_connection* conn) {
    if (!profileRules().checksODataVersion)
        return false;
    const char* version = mg_get_header(conn, "OData-Version");
    if (!version || std::string(version) == kODataVersion)
        return false;
    writeErrorAnswer(conn, 412, redfisherror::headerInvalid("OData-Version"));
    return true;
}

std::string postTargetOf(const std::string& path) {
    if (!profileRules().membersPathIsCollection)
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

std::string unsupportedQueryOption(const char* query) {
    static const char* const kTaken[] = {"$expand"};
    std::string_view rest = query ? query : "";
    while (!rest.empty()) {
        const size_t amp = rest.find('&');
        const std::string_view item = rest.substr(0, amp);
        rest = amp == std::string_view::npos ? std::string_view() : rest.substr(amp + 1);
        const std::string_view name = item.substr(0, item.find('='));
        // "%24" is "$" too.
        if (name.empty() || (name.front() != '$' && name.rfind("%24", 0) != 0))
            continue;
        bool taken = false;
        for (const char* option : kTaken)
            taken = taken || equalsIgnoreCase(name, option);
        if (!taken)
            return std::string(name);
    }
    return "";
}
