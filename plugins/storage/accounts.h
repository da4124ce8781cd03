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

// Administrator, Operator, ReadOnlyUser, OSUser and the standard ReadOnly
// (which reads, where ReadOnlyUser has no access). The server refuses every
// request of a ReadOnlyUser session and of an OSUser session whose operating
// system privilege level is "undefined" or "ReadOnlyUser".
const std::vector<RoleDefinition>& roleDefinitions();
const RoleDefinition* findRole(const std::string& id);
std::string roleUri(const std::string& roleId);

extern const std::vector<std::string> kOsPrivilegeLevels;

// User names compare without letter case: one account per name.
bool sameUserName(const std::string& a, const std::string& b);

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
    // A strong entity tag (quoted) of what the account's payload shows at
    // `now`; a new password changes it too (it comes with a new salt).
    std::string etag(int64_t now) const;
};

// A password's salted hash. Computing one costs the full PBKDF2 rounds, so
// callers do it without holding the model lock.
struct PasswordHash {
    std::string salt; // hex
    std::string hash; // hex
    int iterations = 0;
    // A fresh salt and the hash of `password` under it.
    static PasswordHash of(const std::string& password);
};

// The account service's rules that an administrator sets (PATCH of the
// AccountService): lock-out after failed logins and password lengths.
struct AccountPolicy {
    int64_t lockoutThreshold = 5;   // failures in a row that lock; 0: never locked
    int64_t lockoutDuration = 60;   // seconds locked; 0: never locked
    int64_t counterResetAfter = 60; // seconds without a failure that forget the count
    int64_t minPasswordLength = 8;
    int64_t maxPasswordLength = 64;

    // Bounds of what an administrator may set.
    static constexpr int64_t kMaxThreshold = 100;
    static constexpr int64_t kMaxSeconds = 86400;
    static constexpr int64_t kPasswordFloor = 8; // never shorter
    static constexpr int64_t kPasswordCeiling = 256;

    // The policy as `body` (AccountService members) changes it, every check
    // made; throws RedfishError (400) naming the property.
    AccountPolicy patched(const Json& body) const;
    // The members as the AccountService shows them.
    Json toJson() const;
    bool locks() const { return lockoutThreshold > 0 && lockoutDuration > 0; }
};

// An account to be created, as a request or the first start describes it.
struct NewAccount {
    std::string userName;
    std::string password;
    std::string roleId;
    bool enabled = true;
    std::string osPrivilegeLevel = "undefined";
};

// What a login is checked against, copied out of the store so that the hash
// can be computed without the model lock; no account when the name is unknown.
struct LoginCheck {
    std::string userName;
    std::string accountId;
    std::string salt;
    std::string hash;
    int iterations = 0;
    bool operator==(const LoginCheck& o) const {
        return userName == o.userName && accountId == o.accountId && salt == o.salt &&
               hash == o.hash && iterations == o.iterations;
    }
    // PBKDF2 of `password` as this check needs it; for an unknown name the
    // same work with a dummy salt, so names cannot be probed by time.
    std::string hashOf(const std::string& password) const;
};

class AccountStore {
  public:
    static constexpr int kIterations = 100000;
    // PBKDF2 iteration counts accepted from the accounts file: fewer would
    // weaken the hash, more would let one login hold the service for long.
    static constexpr int64_t kMinIterations = 100000;
    static constexpr int64_t kMaxIterations = 10000000;
    // The default policy's lock-out.
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
    // The body of a POST to the account collection, with every check that
    // needs no accounts (those of create() on user name, password and role).
    static NewAccount newAccountFromRequest(const Json& body, const AccountPolicy& policy);
    // Refuses a name in use (ResourceAlreadyExists) or a full store.
    void checkRoomFor(const std::string& userName) const;
    // checkRoomFor(), then adds `account` with its password hashed as `hashed`.
    Account add(const NewAccount& account, const PasswordHash& hashed);
    // The account as a PATCH of UserName, Password, RoleId, Enabled, Locked
    // (false only) and Oem/Veltrano/OSPrivilegeLevel would leave it, every
    // check made; a new password is not hashed yet but left in `newPassword`.
    Account patched(const Account& account, const Json& body, std::string& newPassword) const;
    // patched() applied, all or nothing; a new password takes `hashed` when
    // given (computed beforehand for the same body), else is hashed here.
    void patch(Account& account, const Json& body, const PasswordHash* hashed = nullptr);
    // Refuses to remove the last enabled Administrator.
    void remove(const std::string& id);

    // The account when the password matches and it may log in; counts
    // failures per account and client address and locks the account for that
    // address for a while after too many. Servers that do not tell the
    // address share the empty one.
    Account* authenticate(const std::string& userName, const std::string& password, int64_t now,
                          const std::string& clientAddress = "");
    // authenticate() in steps, so that the hashing can run unlocked: the
    // check, its hashOf() the password, then the verdict. When the account
    // changed in between, `stale` is set and nothing is counted.
    LoginCheck loginCheck(const std::string& userName) const;
    Account* completeLogin(const LoginCheck& check, const std::string& hash, int64_t now,
                           const std::string& clientAddress, bool& stale);

    Account* find(const std::string& id);
    const std::vector<Account>& accounts() const { return accounts_; }
    bool empty() const { return accounts_.empty(); }

    Json toJson() const;
    static AccountStore fromJson(const Json& state); // throws std::runtime_error

    const AccountPolicy& policy() const { return policy_; }
    void setPolicy(const AccountPolicy& policy) { policy_ = policy; }

    // Whether an enabled Administrator exists.
    bool administered() const;
    // Entries of the loaded file that were left out, and why.
    const std::vector<std::string>& skippedEntries() const { return skipped_; }

  private:
    std::vector<std::string> skipped_;
    size_t enabledAdministrators() const;
    std::vector<Account> accounts_;
    uint64_t nextId_ = 1;
    AccountPolicy policy_;
};

void checkPasswordPolicy(const std::string& password, const AccountPolicy& policy);
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
