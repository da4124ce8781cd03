// HTTP Basic authentication: the credentials of an Authorization header and
// the short-lived verdicts of the logins they stood for. A verdict is kept
// under a salted hash of the credentials, never the password itself.
#ifndef TOLVANE_BASICAUTH_H
#define TOLVANE_BASICAUTH_H

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "session/sessiontable.h"

struct BasicCredentials {
    std::string user;
    std::string password;
};

// The credentials of an "Authorization: Basic <base64 of user:password>"
// value; nullopt for any other scheme, bad base64, no colon, an empty user
// or a control character (a NUL would cut the name short in the plug-in).
std::optional<BasicCredentials> basicCredentials(const char* authorization);

// How long a Basic verdict stands before the plug-in is asked again.
constexpr int64_t kBasicVerdictSeconds = 5;

class BasicVerdictCache {
  public:
    BasicVerdictCache();
    std::optional<SessionRecord> find(const BasicCredentials& credentials, int64_t now);
    // Keeps the verdict unless the account of `record` was revoked since its
    // login name had `generation`; false (nothing kept) in that case.
    bool store(const BasicCredentials& credentials, const SessionRecord& record, int64_t now,
               uint64_t generation);
    // A changed or removed account's verdicts end at once (any letter case).
    void forgetUser(const std::string& user);

  private:
    struct Entry {
        SessionRecord record;
        int64_t expires = 0;
    };
    std::string keyOf(const BasicCredentials& credentials) const;

    std::mutex mutex_;
    std::string salt_;
    std::map<std::string, Entry> entries_;
};

BasicVerdictCache& basicVerdictCache();

#endif
