// The process-wide table of login sessions.
#include "session/sessiontable.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <unordered_map>
#include <mutex>

#include "gate/requestpath.h"
#include "postrules.h"

std::vector<SessionRecord> sessionTable;

namespace {

bool storableToken(const std::string& token) {
    // The fallback texts of a failed member lookup are no tokens; storing
    // them would let anyone who guesses them in.
    return !token.empty() && token != "root parse failed" && token != "{}";
}

} // namespace

std::recursive_mutex& sessionTableMutex() {
    static std::recursive_mutex instance;
    return instance;
}

namespace {
std::atomic<int64_t> gIdleTimeout{0};
}

void setSessionIdleTimeout(int64_t seconds) {
    gIdleTimeout.store(seconds > 0 ? seconds : 0);
}

int64_t sessionIdleTimeout() {
    return gIdleTimeout.load();
}

bool sessionExpired(const SessionRecord& record, int64_t now) {
    const int64_t idle = sessionIdleTimeout();
    return now > record.createdAt + kSessionLifetimeSeconds ||
           (idle > 0 && now > std::max(record.lastUsedAt, record.createdAt) + idle);
}

int pruneExpiredSessions(int64_t now) {
    std::lock_guard<std::recursive_mutex> lock(sessionTableMutex());
    auto first = std::remove_if(sessionTable.begin(), sessionTable.end(),
                                [now](const SessionRecord& r) { return sessionExpired(r, now); });
    int removed = static_cast<int>(sessionTable.end() - first);
    sessionTable.erase(first, sessionTable.end());
    return removed;
}

bool sameAccountName(const std::string& a, const std::string& b) {
    return !a.empty() && equalsIgnoreCase(a, b);
}

namespace {

std::string accountKey(const std::string& userName) {
    std::string key = userName;
    for (char& c : key)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return key;
}

// Generations of revoked accounts only: an account never revoked is at 0.
std::unordered_map<std::string, uint64_t>& generations() {
    static std::unordered_map<std::string, uint64_t> instance;
    return instance;
}

bool isAdministrator(const SessionRecord& r) {
    return (r.privileges & privilege::ConfigureUsers) != 0;
}

} // namespace

uint64_t accountGeneration(const std::string& userName) {
    std::lock_guard<std::recursive_mutex> lock(sessionTableMutex());
    auto found = generations().find(accountKey(userName));
    return found == generations().end() ? 0 : found->second;
}

AddSessionResult addSession(SessionRecord record, int maximum, int64_t now,
                            const SessionAdmission& admission) {
    std::lock_guard<std::recursive_mutex> lock(sessionTableMutex());
    if (!storableToken(record.token))
        return AddSessionResult::NoToken;
    // Checked under the lock that revocation takes: a login whose account
    // changed while it was checked is refused, never left standing.
    if (admission.generation && *admission.generation != accountGeneration(admission.loginName))
        return AddSessionResult::Revoked;
    pruneExpiredSessions(now);
    auto evict = [&](std::vector<SessionRecord>::iterator at) {
        if (admission.evicted)
            admission.evicted->push_back(*at);
        sessionTable.erase(at);
    };
    // Records are appended in login order, so the first of an account is its oldest.
    auto oldestOwn = [&] {
        return std::find_if(sessionTable.begin(), sessionTable.end(), [&](const SessionRecord& r) {
            return sameAccountName(r.userName, record.userName);
        });
    };
    if (admission.perAccount > 0) {
        const auto own =
            std::count_if(sessionTable.begin(), sessionTable.end(), [&](const SessionRecord& r) {
                return sameAccountName(r.userName, record.userName);
            });
        for (auto excess = own - admission.perAccount + 1; excess > 0; --excess)
            evict(oldestOwn());
    }
    const size_t cap = maximum > 0 ? static_cast<size_t>(maximum) : kDefaultMaximumSessions;
    if (sessionTable.size() >= cap) {
        // Another account's session is never evicted, so a login cannot end
        // someone else's, except that the administrator can always get in.
        auto room = oldestOwn();
        if (room == sessionTable.end() && isAdministrator(record))
            room = std::find_if(sessionTable.begin(), sessionTable.end(),
                                [](const SessionRecord& r) { return !isAdministrator(r); });
        if (room == sessionTable.end())
            return AddSessionResult::Full;
        evict(room);
    }
    sessionTable.push_back(std::move(record));
    return AddSessionResult::Stored;
}

int removeSessionsOfUser(const std::string& userName, const std::string& keepToken) {
    std::lock_guard<std::recursive_mutex> lock(sessionTableMutex());
    if (userName.empty())
        return 0;
    ++generations()[accountKey(userName)];
    auto first =
        std::remove_if(sessionTable.begin(), sessionTable.end(), [&](const SessionRecord& r) {
            return sameAccountName(r.userName, userName) &&
                   (keepToken.empty() || !constantTimeEquals(r.token, keepToken));
        });
    int removed = static_cast<int>(sessionTable.end() - first);
    sessionTable.erase(first, sessionTable.end());
    return removed;
}

int findSession(const std::string& clientAddress, const std::string& token) {
    std::lock_guard<std::recursive_mutex> lock(sessionTableMutex());
    if (token.empty() || clientAddress.empty())
        return -1;
    for (size_t i = 0; i < sessionTable.size(); ++i) {
        const SessionRecord& r = sessionTable[i];
        if (r.clientAddress == clientAddress && constantTimeEquals(r.token, token))
            return static_cast<int>(i);
    }
    return -1;
}

int removeSessionsByLocation(const std::string& uri) {
    std::lock_guard<std::recursive_mutex> lock(sessionTableMutex());
    if (uri.empty())
        return 0;
    auto first =
        std::remove_if(sessionTable.begin(), sessionTable.end(), [&uri](const SessionRecord& r) {
            return !r.location.empty() && samePath(r.location, uri);
        });
    int removed = static_cast<int>(sessionTable.end() - first);
    sessionTable.erase(first, sessionTable.end());
    return removed;
}

std::optional<SessionRecord> sessionAt(const std::string& uri, int64_t now) {
    std::lock_guard<std::recursive_mutex> lock(sessionTableMutex());
    for (const SessionRecord& r : sessionTable)
        if (!r.location.empty() && !sessionExpired(r, now) && samePath(r.location, uri))
            return r;
    return std::nullopt;
}

std::vector<std::string> sessionLocations(int64_t now) {
    std::lock_guard<std::recursive_mutex> lock(sessionTableMutex());
    std::vector<std::string> out;
    for (const SessionRecord& r : sessionTable) {
        if (r.location.empty() || sessionExpired(r, now))
            continue;
        if (std::none_of(out.begin(), out.end(),
                         [&](const std::string& known) { return samePath(known, r.location); }))
            out.push_back(r.location);
    }
    return out;
}

bool constantTimeEquals(const std::string& a, const std::string& b) {
    // Walk the longer text whole and fold every difference (length included)
    // into one accumulator, so the time taken does not tell where they differ.
    const size_t n = std::max(a.size(), b.size());
    unsigned char diff = a.size() == b.size() ? 0 : 1;
    for (size_t i = 0; i < n; ++i) {
        unsigned char ca = i < a.size() ? static_cast<unsigned char>(a[i]) : 0;
        unsigned char cb = i < b.size() ? static_cast<unsigned char>(b[i]) : 0;
        diff |= static_cast<unsigned char>(ca ^ cb);
    }
    return diff == 0;
}
