// Whether a request may be served on behalf of a login session.
#ifndef TOLVANE_SESSIONAUTH_H
#define TOLVANE_SESSIONAUTH_H

#include <cstdint>
#include <optional>
#include <string>

#include "session/sessiontable.h"

// The session token a request presents: the "X-Auth-Token" header when it is
// present and not empty, else the "sessionId" cookie (the login writes it as
// "sessionId =<token>", so blanks around the name and the value are
// skipped). Null arguments count as absent; "" when neither gives a token.
std::string presentedToken(const char* xAuthToken, const char* cookieHeader);

// Looks the session of (clientAddress, token) up in the session table at
// time `now`: refuses when there is none, removes it and refuses when it has
// expired, applies the role rules to its session data, and records `now` as
// the session's latest use.
bool authorizeSession(const std::string& clientAddress, const std::string& token, int64_t now);

// As authorizeSession, giving a copy of the session that authorises.
std::optional<SessionRecord> authorizedSession(const std::string& clientAddress,
                                               const std::string& token, int64_t now);

// Whether the role rules let a session with this login data act at all:
// "Role" and "OSPrivilegeLevel" present, the role not ReadOnlyUser, an
// OSUser with a usable privilege level.
bool roleRulesPermit(const std::string& sessionInfo);

// The role whose privileges a session has: the last segment of "Role", or
// for an OSUser the role its "OSPrivilegeLevel" names. "" when unreadable.
std::string effectiveRoleId(const std::string& sessionInfo);

// The account a login stands for: the "UserName" of the session resource in
// the login data (the plug-in's own spelling), else `typed`, the name the
// client sent.
std::string sessionAccountName(const std::string& sessionInfo, const std::string& typed);

#endif
