// Authorisation of a request against the session table and the role rules.
#include "session/sessionauth.h"

#include <cctype>

#include "jsonadapter.h"
#include "session/sessiontable.h"

namespace {

bool equalsIgnoringCase(const std::string& a, const char* b) {
    size_t i = 0;
    for (; i < a.size() && b[i]; ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return i == a.size() && b[i] == '\0';
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string trimmed(const std::string& s) {
    size_t begin = 0;
    size_t end = s.size();
    while (begin < end && isBlank(s[begin]))
        ++begin;
    while (end > begin && isBlank(s[end - 1]))
        --end;
    return s.substr(begin, end - begin);
}

std::string cookieValue(const std::string& header, const char* name) {
    size_t pos = 0;
    while (pos <= header.size()) {
        size_t end = header.find(';', pos);
        if (end == std::string::npos)
            end = header.size();
        std::string pair = header.substr(pos, end - pos);
        size_t eq = pair.find('=');
        if (eq != std::string::npos && trimmed(pair.substr(0, eq)) == name)
            return trimmed(pair.substr(eq + 1));
        pos = end + 1;
    }
    return "";
}

const char* const kReadOnlyRole = "/redfish/v1/AccountService/Roles/ReadOnlyUser";
const char* const kOsUserRole = "/redfish/v1/AccountService/Roles/OSUser";

} // namespace

bool roleRulesPermit(const std::string& sessionInfo) {
    json::Value info;
    if (!json::tryParseObject(sessionInfo, info))
        return false;
    if (!json::hasMember(info, "Role") || !json::hasMember(info, "OSPrivilegeLevel"))
        return false;
    const std::string role = json::memberText(info, "Role");
    const std::string privilege = json::memberText(info, "OSPrivilegeLevel");
    if (equalsIgnoringCase(role, kReadOnlyRole))
        return false;
    // An operating-system user without a usable privilege level may not act.
    if (equalsIgnoringCase(role, kOsUserRole) && (equalsIgnoringCase(privilege, "undefined") ||
                                                  equalsIgnoringCase(privilege, "ReadOnlyUser")))
        return false;
    return true;
}

std::string presentedToken(const char* xAuthToken, const char* cookieHeader) {
    if (xAuthToken && *xAuthToken)
        return trimmed(xAuthToken);
    if (cookieHeader && *cookieHeader)
        return cookieValue(cookieHeader, "sessionId");
    return "";
}

std::string effectiveRoleId(const std::string& sessionInfo) {
    json::Value info;
    if (!json::tryParseObject(sessionInfo, info))
        return "";
    const std::string role = json::memberText(info, "Role");
    if (equalsIgnoringCase(roleIdOf(role), "OSUser"))
        return json::memberText(info, "OSPrivilegeLevel");
    return roleIdOf(role);
}

std::string sessionAccountName(const std::string& sessionInfo, const std::string& typed) {
    json::Value info;
    json::Value session;
    if (json::tryParseObject(sessionInfo, info) &&
        json::tryParseObject(json::memberText(info, "Data"), session)) {
        const json::Value name = session.value("UserName", json::Value());
        if (name.is_string() && !name.get<std::string>().empty())
            return name.get<std::string>();
    }
    return typed;
}

bool authorizeSession(const std::string& clientAddress, const std::string& token, int64_t now) {
    return authorizedSession(clientAddress, token, now).has_value();
}

std::optional<SessionRecord> authorizedSession(const std::string& clientAddress,
                                               const std::string& token, int64_t now) {
    std::lock_guard<std::recursive_mutex> lock(sessionTableMutex());
    int index = findSession(clientAddress, token);
    if (index < 0)
        return std::nullopt;
    if (sessionExpired(sessionTable[static_cast<size_t>(index)], now)) {
        sessionTable.erase(sessionTable.begin() + index);
        return std::nullopt;
    }

    SessionRecord& record = sessionTable[static_cast<size_t>(index)];
    if (record.roleVerdict < 0) {
        record.roleVerdict = roleRulesPermit(record.sessionInfo) ? 1 : 0;
        // A record made without asking the plug-in holds the standard role's.
        if (record.privileges == 0)
            record.privileges =
                standardRolePrivileges(effectiveRoleId(record.sessionInfo)).value_or(0);
    }
    if (record.roleVerdict != 1)
        return std::nullopt;
    record.lastUsedAt = now; // the idle time-out counts from here
    return record;
}
