// Login sessions: one record per successful login, bound to its token and
// client address. Requests run at the same time: every function here takes
// the table's own lock, and code that reads `sessionTable` directly holds it.
#ifndef TOLVANE_SESSIONTABLE_H
#define TOLVANE_SESSIONTABLE_H

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "session/privileges.h"

struct SessionRecord {
    std::string token;         // handed to the client ("X-Auth-Token" / cookie)
    std::string sessionInfo;   // JSON object text with "Role", "OSPrivilegeLevel"
    std::string hostName;      // the handler's hostName at login
    std::string clientAddress; // remote address text at login
    int64_t createdAt = 0;     // seconds since the epoch
    int64_t lastUsedAt = 0;    // its latest authorised request (the login's time at first)
    std::string location;      // the "Location" returned by the login
    // What the role rules make of sessionInfo, worked out at its first use:
    // -1 not yet, 0 refused, 1 permitted. sessionInfo never changes.
    int roleVerdict = -1;
    std::string userName;        // the account's own "UserName", as the plug-in spells it
    PrivilegeSet privileges = 0; // from the role, learned at login
};

// A session is valid while now <= createdAt + kSessionLifetimeSeconds and,
// when an idle time-out is set, now <= lastUsedAt + that time-out.
constexpr int64_t kSessionLifetimeSeconds = 86400;
constexpr int kDefaultMaximumSessions = 64;

extern std::vector<SessionRecord> sessionTable;
// The table's lock; recursive so that one step may call several functions.
std::recursive_mutex& sessionTableMutex();

// RoleRefused is the login's own verdict, before the table is asked.
enum class AddSessionResult { Stored, NoToken, Full, Revoked, RoleRefused };

// What a login's record must satisfy beyond the table's cap.
struct SessionAdmission {
    // Sessions one account may hold (<= 0: no cap of its own); its oldest
    // makes room for its newest.
    int perAccount = 0;
    // The generation of the name the client logged in with, read before its
    // credentials were checked: a revocation since then refuses the record.
    std::string loginName;
    std::optional<uint64_t> generation;
    // Receives the records removed to make room (the plug-in must hear of them).
    std::vector<SessionRecord>* evicted = nullptr;
};

// Appends a record after removing expired ones. When `maximum` records
// (kDefaultMaximumSessions when `maximum` <= 0) are live, the oldest record
// of the same account makes room; without one, an administrator's login
// (ConfigureUsers) ends the oldest session that is not an administrator's,
// anyone else's finds the table full. Records with an empty token, or the
// fallback texts "root parse failed" / "{}", are not stored.
AddSessionResult addSession(SessionRecord record, int maximum, int64_t now,
                            const SessionAdmission& admission = SessionAdmission());

// Whether two user names name one account: the plug-ins match names without
// regard to ASCII letter case, so revocation must too.
bool sameAccountName(const std::string& a, const std::string& b);

// The account's generation: it moves on with every revocation of the account.
uint64_t accountGeneration(const std::string& userName);

// Removes every record of `userName` (any letter case) except the one holding
// `keepToken` (none kept when it is empty) and moves the account's
// generation on. Returns the number removed.
int removeSessionsOfUser(const std::string& userName, const std::string& keepToken = "");

// Index of the first record whose client address and token both match
// (token compared in constant time; an empty token never matches), or -1.
int findSession(const std::string& clientAddress, const std::string& token);

// Removes every record whose location names the same path as `uri` (letter
// case and empty segments ignored). Returns the number removed.
int removeSessionsByLocation(const std::string& uri);

// A copy of the live record whose location names `uri`, if any.
std::optional<SessionRecord> sessionAt(const std::string& uri, int64_t now);

// The locations of the live records, in login order, each once.
std::vector<std::string> sessionLocations(int64_t now);

// Seconds a session may go without a request; 0 (the start) for no limit
// but its lifetime.
void setSessionIdleTimeout(int64_t seconds);
int64_t sessionIdleTimeout();

// True when `record` is past its lifetime or idle time-out at `now`
// (seconds since the epoch).
bool sessionExpired(const SessionRecord& record, int64_t now);

// Removes every expired record; returns the number removed.
int pruneExpiredSessions(int64_t now);

// Equality in time independent of where the texts differ.
bool constantTimeEquals(const std::string& a, const std::string& b);

#endif
