#include "accounts.h"

#include <algorithm>
#include <cctype>
#include <iterator>
#include <set>
#include <stdexcept>

#include "RedfishStandardRoles.h"
#include "crypto.h"
#include "messages.h"

namespace tolvane::plugin {

const std::vector<std::string> kOsPrivilegeLevels = {"Administrator", "Operator", "ReadOnlyUser",
                                                     "undefined"};

const std::vector<RoleDefinition>& roleDefinitions() {
    static const std::vector<RoleDefinition> roles = [] {
        std::vector<RoleDefinition> all;
        for (const RedfishStandardRole& standard : kRedfishStandardRoles) {
            RoleDefinition role{standard.id, standard.description, {}};
            for (const char* const* p = standard.privileges; *p; ++p)
                role.privileges.push_back(*p);
            all.push_back(std::move(role));
        }
        // This service's own roles.
        all.push_back(
            {"ReadOnlyUser", "Has no access through this service", {"Login", "ConfigureSelf"}});
        all.push_back(
            {"OSUser",
             "A host operating system user; acts with its operating system privilege level",
             {"Login", "ConfigureComponents"}});
        return all;
    }();
    return roles;
}

const RoleDefinition* findRole(const std::string& id) {
    for (const auto& role : roleDefinitions()) {
        if (role.id == id)
            return &role;
    }
    return nullptr;
}

std::string roleUri(const std::string& roleId) {
    return "/redfish/v1/AccountService/Roles/" + roleId;
}

bool Account::locked(int64_t now) const {
    for (const auto& [address, f] : failures) {
        if (f.lockedUntil > now)
            return true;
    }
    return false;
}

bool Account::lockedFor(const std::string& clientAddress, int64_t now) const {
    auto it = failures.find(clientAddress);
    return it != failures.end() && it->second.lockedUntil > now;
}

std::string Account::sessionPrivilegeLevel() const {
    return roleId == "OSUser" ? osPrivilegeLevel : roleId;
}

std::string Account::etag(int64_t now) const {
    const std::string fields[] = {
        id, userName, roleId, enabled ? "1" : "0", locked(now) ? "1" : "0", salt, osPrivilegeLevel};
    std::string text;
    for (const auto& field : fields)
        text += field + '\0';
    return "\"" + crypto::sha256Hex(text).substr(0, 32) + "\"";
}

bool sameUserName(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

namespace {

std::string takeString(const Json& value, const std::string& property, bool secret = false) {
    if (!value.is_string())
        throw errors::propertyValueTypeError(secret ? "******" : argumentText(value), property);
    return value.get<std::string>();
}

std::string accountUri(const std::string& id) {
    return "/redfish/v1/AccountService/Accounts/" + id;
}

std::string takeRole(const Json& value) {
    std::string role = takeString(value, "RoleId");
    if (!findRole(role))
        throw errors::propertyValueNotInList(role, "RoleId");
    return role;
}

std::string takeOsPrivilege(const Json& oem) {
    if (!oem.is_object())
        throw errors::propertyValueTypeError(argumentText(oem), "Oem");
    std::string level;
    bool found = false;
    for (auto it = oem.begin(); it != oem.end(); ++it) {
        if (it.key() != "Veltrano")
            throw errors::propertyUnknown("Oem/" + it.key());
        if (!it.value().is_object())
            throw errors::propertyValueTypeError(argumentText(it.value()), "Oem/Veltrano");
        for (auto m = it.value().begin(); m != it.value().end(); ++m) {
            if (m.key().find('@') != std::string::npos)
                continue; // "@odata.type" as the account's payload shows it
            if (m.key() != "OSPrivilegeLevel")
                throw errors::propertyUnknown("Oem/Veltrano/" + m.key());
            level = takeString(m.value(), "Oem/Veltrano/OSPrivilegeLevel");
            if (std::find(kOsPrivilegeLevels.begin(), kOsPrivilegeLevels.end(), level) ==
                kOsPrivilegeLevels.end())
                throw errors::propertyValueNotInList(level, "Oem/Veltrano/OSPrivilegeLevel");
            found = true;
        }
    }
    if (!found)
        throw errors::noOperation();
    return level;
}

} // namespace

void checkUserName(const std::string& userName) {
    if (userName.empty() || userName.size() > 32)
        throw errors::propertyValueFormatError(userName, "UserName");
    for (unsigned char ch : userName) {
        if (!std::isalnum(ch) && ch != '.' && ch != '_' && ch != '-')
            throw errors::propertyValueFormatError(userName, "UserName");
    }
}

void checkPasswordPolicy(const std::string& password, const AccountPolicy& policy) {
    // The value is never echoed back.
    if (password.size() < static_cast<size_t>(policy.minPasswordLength) ||
        password.size() > static_cast<size_t>(policy.maxPasswordLength))
        throw errors::propertyValueFormatError("******", "Password")
            .withDetail("Passwords have " + std::to_string(policy.minPasswordLength) + " to " +
                        std::to_string(policy.maxPasswordLength) + " characters.");
    for (unsigned char ch : password) {
        if (ch < 0x20 || ch == 0x7f)
            throw errors::propertyValueFormatError("******", "Password");
    }
}

AccountPolicy AccountPolicy::patched(const Json& body) const {
    if (!body.is_object())
        throw errors::unrecognizedRequestBody();
    static const std::set<std::string> readOnly = {
        "Id",       "Name",  "Description",          "Status", "ServiceEnabled",
        "Accounts", "Roles", "SupportedAccountTypes"};
    AccountPolicy next = *this;
    const std::pair<const char*, int64_t AccountPolicy::*> members[] = {
        {"AccountLockoutThreshold", &AccountPolicy::lockoutThreshold},
        {"AccountLockoutDuration", &AccountPolicy::lockoutDuration},
        {"AccountLockoutCounterResetAfter", &AccountPolicy::counterResetAfter},
        {"MinPasswordLength", &AccountPolicy::minPasswordLength},
        {"MaxPasswordLength", &AccountPolicy::maxPasswordLength}};
    bool changed = false;
    for (auto it = body.begin(); it != body.end(); ++it) {
        const std::string& key = it.key();
        if (key.find('@') != std::string::npos)
            continue;
        auto member = std::find_if(std::begin(members), std::end(members),
                                   [&](const auto& m) { return key == m.first; });
        if (member == std::end(members)) {
            if (readOnly.count(key))
                throw errors::propertyNotWritable(key);
            throw errors::propertyUnknown(key);
        }
        if (!it.value().is_number_integer())
            throw errors::propertyValueTypeError(argumentText(it.value()), key);
        const bool isLength = key.find("PasswordLength") != std::string::npos;
        const int64_t low = isLength ? kPasswordFloor : 0;
        const int64_t high = isLength                           ? kPasswordCeiling
                             : key == "AccountLockoutThreshold" ? kMaxThreshold
                                                                : kMaxSeconds;
        const int64_t value = it.value().is_number_unsigned() &&
                                      it.value().get<uint64_t>() > static_cast<uint64_t>(high)
                                  ? high + 1
                                  : it.value().get<int64_t>();
        if (value < low || value > high)
            throw errors::propertyValueOutOfRange(argumentText(it.value()), key)
                .withDetail("It takes " + std::to_string(low) + " to " + std::to_string(high) +
                            ".");
        next.*(member->second) = value;
        changed = true;
    }
    if (!changed)
        throw errors::noOperation();
    if (next.minPasswordLength > next.maxPasswordLength)
        throw errors::propertyValueConflict("MinPasswordLength", "MaxPasswordLength");
    // A lock-out outlasts the window in which its failures are counted.
    if (next.lockoutDuration > 0 && next.counterResetAfter > next.lockoutDuration)
        throw errors::propertyValueConflict("AccountLockoutCounterResetAfter",
                                            "AccountLockoutDuration");
    return next;
}

Json AccountPolicy::toJson() const {
    return Json{{"AccountLockoutThreshold", lockoutThreshold},
                {"AccountLockoutDuration", lockoutDuration},
                {"AccountLockoutCounterResetAfter", counterResetAfter},
                {"MinPasswordLength", minPasswordLength},
                {"MaxPasswordLength", maxPasswordLength}};
}

PasswordHash PasswordHash::of(const std::string& password) {
    PasswordHash h;
    h.salt = crypto::randomHex(16);
    h.iterations = AccountStore::kIterations;
    h.hash = crypto::pbkdf2Sha256Hex(password, h.salt, h.iterations);
    return h;
}

namespace {

void setPassword(Account& account, const PasswordHash& hashed) {
    account.salt = hashed.salt;
    account.iterations = hashed.iterations;
    account.hash = hashed.hash;
}

// The checks of a new account that need no accounts, in the order answered.
void checkNewAccount(const NewAccount& account, const AccountPolicy& policy) {
    checkUserName(account.userName);
    checkPasswordPolicy(account.password, policy);
    if (!findRole(account.roleId))
        throw errors::propertyValueNotInList(account.roleId, "RoleId");
}

} // namespace

size_t AccountStore::enabledAdministrators() const {
    return static_cast<size_t>(
        std::count_if(accounts_.begin(), accounts_.end(),
                      [](const Account& a) { return a.enabled && a.roleId == "Administrator"; }));
}

Account AccountStore::create(const std::string& userName, const std::string& password,
                             const std::string& roleId, bool enabled,
                             const std::string& osPrivilegeLevel) {
    const NewAccount account{userName, password, roleId, enabled, osPrivilegeLevel};
    checkNewAccount(account, policy_);
    checkRoomFor(userName);
    return add(account, PasswordHash::of(password));
}

void AccountStore::checkRoomFor(const std::string& userName) const {
    for (const auto& a : accounts_) {
        if (sameUserName(a.userName, userName))
            throw errors::resourceAlreadyExists("ManagerAccount", "UserName", userName);
    }
    if (accounts_.size() >= kMaxAccounts)
        throw errors::resourceExhaustion("/redfish/v1/AccountService/Accounts");
}

Account AccountStore::add(const NewAccount& spec, const PasswordHash& hashed) {
    checkRoomFor(spec.userName);
    Account account;
    account.id = std::to_string(nextId_++);
    account.userName = spec.userName;
    account.roleId = spec.roleId;
    account.enabled = spec.enabled;
    account.osPrivilegeLevel = spec.osPrivilegeLevel;
    setPassword(account, hashed);
    accounts_.push_back(account);
    return accounts_.back();
}

NewAccount AccountStore::newAccountFromRequest(const Json& body, const AccountPolicy& policy) {
    std::string userName, password, roleId, osLevel = "undefined";
    bool enabled = true;
    bool haveUser = false, havePassword = false, haveRole = false;
    for (auto it = body.begin(); it != body.end(); ++it) {
        const std::string& key = it.key();
        if (key.find('@') != std::string::npos)
            continue;
        if (key == "UserName") {
            userName = takeString(it.value(), key);
            haveUser = true;
        } else if (key == "Password") {
            password = takeString(it.value(), key, true);
            havePassword = true;
        } else if (key == "RoleId") {
            roleId = takeRole(it.value());
            haveRole = true;
        } else if (key == "Enabled") {
            if (!it.value().is_boolean())
                throw errors::propertyValueTypeError(argumentText(it.value()), key);
            enabled = it.value().get<bool>();
        } else if (key == "Oem") {
            osLevel = takeOsPrivilege(it.value());
        } else if (key == "Id" || key == "Locked" || key == "Links" || key == "AccountTypes") {
            throw errors::propertyNotWritable(key);
        } else {
            throw errors::propertyUnknown(key);
        }
    }
    if (!haveUser)
        throw errors::propertyMissing("UserName");
    if (!havePassword)
        throw errors::propertyMissing("Password");
    if (!haveRole)
        throw errors::propertyMissing("RoleId");
    const NewAccount account{userName, password, roleId, enabled, osLevel};
    checkNewAccount(account, policy);
    return account;
}

Account AccountStore::patched(const Account& account, const Json& body,
                              std::string& newPassword) const {
    Account next = account;
    newPassword.clear();
    bool changed = false;
    for (auto it = body.begin(); it != body.end(); ++it) {
        const std::string& key = it.key();
        if (key.find('@') != std::string::npos)
            continue;
        if (key == "UserName") {
            next.userName = takeString(it.value(), key);
            checkUserName(next.userName);
            for (const auto& a : accounts_) {
                if (a.id != account.id && sameUserName(a.userName, next.userName))
                    throw errors::resourceAlreadyExists("ManagerAccount", "UserName",
                                                        next.userName);
            }
        } else if (key == "Password") {
            newPassword = takeString(it.value(), key, true);
            checkPasswordPolicy(newPassword, policy_);
        } else if (key == "RoleId") {
            next.roleId = takeRole(it.value());
        } else if (key == "Enabled") {
            if (!it.value().is_boolean())
                throw errors::propertyValueTypeError(argumentText(it.value()), key);
            next.enabled = it.value().get<bool>();
        } else if (key == "Locked") {
            // Only an administrator's unlock makes sense; locking is the service's.
            if (!it.value().is_boolean())
                throw errors::propertyValueTypeError(argumentText(it.value()), key);
            if (it.value().get<bool>())
                throw errors::propertyValueNotInList("true", key);
            next.failures.clear();
        } else if (key == "Oem") {
            next.osPrivilegeLevel = takeOsPrivilege(it.value());
        } else if (key == "Id" || key == "Links" || key == "AccountTypes") {
            throw errors::propertyNotWritable(key);
        } else {
            throw errors::propertyUnknown(key);
        }
        changed = true;
    }
    if (!changed)
        throw errors::noOperation();
    const bool wasAdmin = account.enabled && account.roleId == "Administrator";
    const bool staysAdmin = next.enabled && next.roleId == "Administrator";
    if (wasAdmin && !staysAdmin && enabledAdministrators() <= 1)
        throw errors::propertyValueResourceConflict(
            next.roleId != "Administrator" ? "RoleId" : "Enabled",
            next.roleId != "Administrator" ? next.roleId : "false", accountUri(account.id));
    return next;
}

void AccountStore::patch(Account& account, const Json& body, const PasswordHash* hashed) {
    std::string newPassword;
    Account next = patched(account, body, newPassword);
    if (!newPassword.empty())
        setPassword(next, hashed ? *hashed : PasswordHash::of(newPassword));
    account = next;
}

void AccountStore::remove(const std::string& id) {
    auto it = std::find_if(accounts_.begin(), accounts_.end(),
                           [&](const Account& a) { return a.id == id; });
    if (it == accounts_.end())
        throw errors::resourceNotFound("ManagerAccount", id);
    if (it->enabled && it->roleId == "Administrator" && enabledAdministrators() <= 1)
        throw errors::resourceCannotBeDeleted();
    accounts_.erase(it);
}

namespace {

// One more failure of `account` from `clientAddress`. Counts older than the
// reset time start again; the table of addresses stays bounded.
void countFailure(Account& account, const std::string& clientAddress, int64_t now,
                  const AccountPolicy& policy) {
    auto& table = account.failures;
    for (auto it = table.begin(); it != table.end();) {
        const bool stale =
            it->second.lockedUntil <= now && now - it->second.last >= policy.counterResetAfter;
        it = stale ? table.erase(it) : std::next(it);
    }
    if (!table.count(clientAddress) && table.size() >= AccountStore::kMaxFailureAddresses) {
        auto stalest =
            std::min_element(table.begin(), table.end(), [](const auto& a, const auto& b) {
                return std::max(a.second.last, a.second.lockedUntil) <
                       std::max(b.second.last, b.second.lockedUntil);
            });
        table.erase(stalest);
    }
    Account::Failures& f = table[clientAddress];
    f.last = now;
    if (policy.locks() && ++f.count >= policy.lockoutThreshold) {
        f.lockedUntil = now + policy.lockoutDuration;
        f.count = 0;
    }
}

} // namespace

std::string LoginCheck::hashOf(const std::string& password) const {
    if (accountId.empty())
        return crypto::pbkdf2Sha256Hex(password, "00000000000000000000000000000000",
                                       AccountStore::kIterations);
    return crypto::pbkdf2Sha256Hex(password, salt, iterations);
}

LoginCheck AccountStore::loginCheck(const std::string& userName) const {
    LoginCheck check;
    check.userName = userName;
    for (const auto& a : accounts_) {
        if (sameUserName(a.userName, userName)) {
            check.accountId = a.id;
            check.salt = a.salt;
            check.hash = a.hash;
            check.iterations = a.iterations;
        }
    }
    return check;
}

Account* AccountStore::authenticate(const std::string& userName, const std::string& password,
                                    int64_t now, const std::string& clientAddress) {
    const LoginCheck check = loginCheck(userName);
    bool stale = false;
    return completeLogin(check, check.hashOf(password), now, clientAddress, stale);
}

Account* AccountStore::completeLogin(const LoginCheck& check, const std::string& hash, int64_t now,
                                     const std::string& clientAddress, bool& stale) {
    // The hash was computed against `check`; if the name now leads elsewhere
    // or the password changed meanwhile, it proves nothing.
    stale = !(loginCheck(check.userName) == check);
    if (stale || check.accountId.empty())
        return nullptr;
    Account* match = find(check.accountId);
    if (match->lockedFor(clientAddress, now))
        return nullptr;
    if (!crypto::constantTimeEquals(hash, match->hash)) {
        countFailure(*match, clientAddress, now, policy_);
        return nullptr;
    }
    match->failures.erase(clientAddress);
    if (!match->enabled)
        return nullptr;
    return match;
}

bool AccountStore::administered() const {
    return std::any_of(accounts_.begin(), accounts_.end(),
                       [](const Account& a) { return a.enabled && a.roleId == "Administrator"; });
}

Account* AccountStore::find(const std::string& id) {
    for (auto& a : accounts_) {
        if (a.id == id)
            return &a;
    }
    return nullptr;
}

Json AccountStore::toJson() const {
    Json list = Json::array();
    for (const auto& a : accounts_) {
        list.push_back(Json{{"Id", a.id},
                            {"UserName", a.userName},
                            {"RoleId", a.roleId},
                            {"Enabled", a.enabled},
                            {"OSPrivilegeLevel", a.osPrivilegeLevel},
                            {"Salt", a.salt},
                            {"Iterations", a.iterations},
                            {"Hash", a.hash}});
    }
    return Json{{"NextId", nextId_}, {"Accounts", list}, {"Policy", policy_.toJson()}};
}

namespace {

Account accountFromJson(const Json& j) {
    Account a;
    a.id = j.at("Id").get<std::string>();
    a.userName = j.at("UserName").get<std::string>();
    a.roleId = j.at("RoleId").get<std::string>();
    a.enabled = j.at("Enabled").get<bool>();
    a.osPrivilegeLevel = j.value("OSPrivilegeLevel", std::string("undefined"));
    a.salt = j.at("Salt").get<std::string>();
    const Json& n = j.at("Iterations");
    const bool inRange =
        n.is_number_unsigned()
            ? n.get<uint64_t>() >= static_cast<uint64_t>(AccountStore::kMinIterations) &&
                  n.get<uint64_t>() <= static_cast<uint64_t>(AccountStore::kMaxIterations)
            : n.is_number_integer() && n.get<int64_t>() >= AccountStore::kMinIterations &&
                  n.get<int64_t>() <= AccountStore::kMaxIterations;
    if (!inRange)
        throw std::runtime_error("an iteration count out of range");
    a.iterations = n.get<int>();
    a.hash = j.at("Hash").get<std::string>();
    // The Ids the service hands out: decimal, no leading zero.
    const bool decimalId = !a.id.empty() && a.id.size() <= 18 && a.id[0] != '0' &&
                           a.id.find_first_not_of("0123456789") == std::string::npos;
    if (!decimalId || !findRole(a.roleId) || a.hash.empty() || a.salt.empty())
        throw std::runtime_error("not a valid account");
    checkUserName(a.userName);
    return a;
}

} // namespace

AccountStore AccountStore::fromJson(const Json& state) {
    try {
        AccountStore store;
        store.nextId_ = state.at("NextId").get<uint64_t>();
        // A policy the rules refuse costs the policy, never the accounts.
        if (state.contains("Policy")) {
            try {
                store.policy_ = AccountPolicy().patched(state["Policy"]);
            } catch (const RedfishError& e) {
                store.skipped_.push_back(std::string("Policy: ") +
                                         e.messages().front().value("Message", "") +
                                         " (the default policy is used)");
            }
        }
        const Json& list = state.at("Accounts");
        if (!list.is_array())
            throw std::runtime_error("accounts: \"Accounts\" is not a list");
        // One damaged entry costs that entry, never the others.
        size_t index = 0;
        for (const auto& j : list) {
            const std::string where = "entry " + std::to_string(index++);
            try {
                Account a = accountFromJson(j);
                for (const Account& kept : store.accounts_) {
                    if (kept.id == a.id)
                        throw std::runtime_error("Id " + a.id + " used twice");
                    if (sameUserName(kept.userName, a.userName))
                        throw std::runtime_error("user name \"" + a.userName + "\" used twice");
                }
                store.nextId_ = std::max<uint64_t>(store.nextId_, std::stoull(a.id) + 1);
                store.accounts_.push_back(a);
            } catch (const std::exception& e) {
                store.skipped_.push_back(where + ": " + e.what());
            }
        }
        return store;
    } catch (const Json::exception& e) {
        throw std::runtime_error(std::string("accounts: ") + e.what());
    }
}

const Session& SessionStore::create(const Account& account, const std::string& clientOrigin,
                                    int64_t now) {
    prune(now);
    while (sessions_.size() >= kMaxSessions)
        sessions_.erase(sessions_.begin());
    Session s;
    do {
        s.id = crypto::randomHex(10);
    } while (find(s.id));
    s.userName = account.userName;
    s.accountId = account.id;
    s.clientOrigin = clientOrigin;
    s.createdAt = now;
    sessions_.push_back(s);
    return sessions_.back();
}

const Session* SessionStore::find(const std::string& id) const {
    for (const auto& s : sessions_) {
        if (s.id == id)
            return &s;
    }
    return nullptr;
}

bool SessionStore::remove(const std::string& id) {
    auto it = std::find_if(sessions_.begin(), sessions_.end(),
                           [&](const Session& s) { return s.id == id; });
    if (it == sessions_.end())
        return false;
    sessions_.erase(it);
    return true;
}

void SessionStore::removeForAccount(const std::string& accountId) {
    sessions_.erase(std::remove_if(sessions_.begin(), sessions_.end(),
                                   [&](const Session& s) { return s.accountId == accountId; }),
                    sessions_.end());
}

void SessionStore::prune(int64_t now) {
    sessions_.erase(
        std::remove_if(sessions_.begin(), sessions_.end(),
                       [&](const Session& s) { return now > s.createdAt + kLifetimeSeconds; }),
        sessions_.end());
}

} // namespace tolvane::plugin
