// Accounts, roles and login sessions of the Redfish service. Passwords are
// kept only as salted PBKDF2-HMAC-SHA-256 hashes; session tokens are random
// and never stored.
#ifndef TOLVANE_PLUGIN_ACCOUNTS_H
#define TOLVANE_PLUGIN_ACCOUNTS_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "json.h"

namespace tolvane::plugin {

struct RoleDefinition {
    std::string id;
    std::string description;
    std::vector<std::string> privileges;
};

// Administrator, Operator, ReadOnlyUser and OSUser. The server refuses every
// request of a ReadOnlyUser session and of an OSUser session whose operating
// system privilege level is "undefined" or "ReadOnlyUser".
const std::vector<RoleDefinition>& roleDefinitions();
const RoleDefinition* findRole(const std::string& id);
std::string roleUri(const std::string& roleId);

extern const std::vector<std::string> kOsPrivilegeLevels;

struct Account {
    std::string id;
    std::string userName;
    std::string roleId;
    bool enabled = true;
    std::string salt; // hex
    std::string hash; // hex
    int iterations = 0;
    std::string osPrivilegeLevel = "undefined"; // meaningful for OSUser accounts
    // Kept in memory only, per client address: failed logins in a row and the
    // lock-out end. Failures from one address never lock out another.
    struct Failures {
        int count = 0;
        int64_t last = 0;
        int64_t lockedUntil = 0;
    };
    std::map<std::string, Failures> failures;

    // Locked for some address (what the account's "Locked" shows).
    bool locked(int64_t now) const;
    bool lockedFor(const std::string& clientAddress, int64_t now) const;
    // "Role" and "OSPrivilegeLevel" of this account's sessions.
    std::string sessionPrivilegeLevel() const;
};

class AccountStore {
  public:
    static constexpr int kIterations = 100000;
    // PBKDF2 iteration counts accepted from the accounts file: fewer would
    // weaken the hash, more would let one login hold the service for long.
    static constexpr int64_t kMinIterations = 100000;
    static constexpr int64_t kMaxIterations = 10000000;
    static constexpr int kLockoutThreshold = 5;
    static constexpr int kLockoutSeconds = 60;
    // Addresses with failures kept per account; past it the stalest goes.
    static constexpr size_t kMaxFailureAddresses = 256;
    static constexpr size_t kMinPasswordLength = 8;
    static constexpr size_t kMaxPasswordLength = 64;
    static constexpr size_t kMaxAccounts = 32;

    // Adds an account after checking user name, password and role; throws
    // RedfishError. Returns a
    // copy: a reference into the store would not survive the next create().
    Account create(const std::string& userName, const std::string& password,
                   const std::string& roleId, bool enabled = true,
                   const std::string& osPrivilegeLevel = "undefined");
    // The body of a POST to the account collection.
    Account createFromRequest(const Json& body);
    // PATCH of UserName, Password, RoleId, Enabled, Locked (false only) and
    // Oem/Veltrano/OSPrivilegeLevel; all or nothing.
    void patch(Account& account, const Json& body, int64_t now);
    // Refuses to remove the last enabled Administrator.
    void remove(const std::string& id);

    // The account when the password matches and it may log in; counts
    // failures per account and client address and locks the account for that
    // address for a while after too many. Servers that do not tell the
    // address share the empty one.
    Account* authenticate(const std::string& userName, const std::string& password, int64_t now,
                          const std::string& clientAddress = "");

    Account* find(const std::string& id);
    const std::vector<Account>& accounts() const { return accounts_; }
    bool empty() const { return accounts_.empty(); }

    Json toJson() const;
    static AccountStore fromJson(const Json& state); // throws std::runtime_error

  private:
    void setPassword(Account& account, const std::string& password);
    size_t enabledAdministrators() const;
    std::vector<Account> accounts_;
    uint64_t nextId_ = 1;
};

void checkPasswordPolicy(const std::string& password);
void checkUserName(const std::string& userName);

struct Session {
    std::string id;
    std::string userName;
    std::string accountId;
    std::string clientOrigin;
    int64_t createdAt = 0;
};

class SessionStore {
  public:
    static constexpr int64_t kLifetimeSeconds = 86400;
    static constexpr size_t kMaxSessions = 64;

    // A new session; the oldest goes when the table is full.
    const Session& create(const Account& account, const std::string& clientOrigin, int64_t now);
    const Session* find(const std::string& id) const;
    bool remove(const std::string& id);
    void removeForAccount(const std::string& accountId);
    void prune(int64_t now);
    const std::vector<Session>& sessions() const { return sessions_; }

  private:
    std::vector<Session> sessions_;
};

} // namespace tolvane::plugin

#endif
