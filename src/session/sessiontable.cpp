// The process-wide table of login sessions.
#include "session/sessiontable.h"

#include <algorithm>
#include <mutex>

#include "gate/requestpath.h"

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

bool sessionExpired(const SessionRecord& record, int64_t now) {
    return now > record.createdAt + kSessionLifetimeSeconds;
}

int pruneExpiredSessions(int64_t now) {
    std::lock_guard<std::recursive_mutex> lock(sessionTableMutex());
    auto first = std::remove_if(sessionTable.begin(), sessionTable.end(),
                                [now](const SessionRecord& r) { return sessionExpired(r, now); });
    int removed = static_cast<int>(sessionTable.end() - first);
    sessionTable.erase(first, sessionTable.end());
    return removed;
}

AddSessionResult addSession(SessionRecord record, int maximum, int64_t now) {
    std::lock_guard<std::recursive_mutex> lock(sessionTableMutex());
    if (!storableToken(record.token))
        return AddSessionResult::NoToken;
    pruneExpiredSessions(now);
    const size_t cap = maximum > 0 ? static_cast<size_t>(maximum) : kDefaultMaximumSessions;
    if (sessionTable.size() >= cap) {
        // Records are appended in login order, so the first of the user is
        // its oldest. Another user's session is never evicted: a login must
        // not be able to end someone else's.
        auto own = std::find_if(
            sessionTable.begin(), sessionTable.end(), [&record](const SessionRecord& r) {
                return !record.userName.empty() && r.userName == record.userName;
            });
        if (own == sessionTable.end())
            return AddSessionResult::Full;
        sessionTable.erase(own);
    }
    sessionTable.push_back(std::move(record));
    return AddSessionResult::Stored;
}

int removeSessionsOfUser(const std::string& userName, const std::string& keepToken) {
    std::lock_guard<std::recursive_mutex> lock(sessionTableMutex());
    if (userName.empty())
        return 0;
    auto first =
        std::remove_if(sessionTable.begin(), sessionTable.end(), [&](const SessionRecord& r) {
            return r.userName == userName &&
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
