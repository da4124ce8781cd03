// SessionService (logins and logouts) and AccountService (accounts and roles).
#include <filesystem>
#include <mutex>
#include <optional>
#include <shared_mutex>

#include "crypto.h"
#include "messages.h"
#include "oemschema.h"
#include "payloads.h"
#include "service.h"

namespace tolvane::plugin {

namespace {

const std::string R = kRoot;
const std::string kSessions = R + "/SessionService/Sessions";
const std::string kAccounts = R + "/AccountService/Accounts";
const std::string kRoles = R + "/AccountService/Roles";

Json sessionPayload(const Session& s) {
    Json j = resource(kSessions + "/" + s.id, "#Session.v1_8_0.Session", s.id, "User Session");
    j["UserName"] = s.userName;
    j["SessionType"] = "Redfish";
    j["CreatedTime"] = utcTimeText(s.createdAt);
    return j;
}

Json accountPayload(const Account& a, int64_t now) {
    Json j = resource(kAccounts + "/" + a.id, "#ManagerAccount.v1_14_1.ManagerAccount", a.id,
                      "User Account");
    j["@odata.etag"] = a.etag(now);
    j["UserName"] = a.userName;
    j["RoleId"] = a.roleId;
    j["Enabled"] = a.enabled;
    j["Locked"] = a.locked(now);
    j["Password"] = nullptr; // never shown
    j["AccountTypes"] = Json::array({"Redfish"});
    j["Links"] = Json{{"Role", link(kRoles + "/" + a.roleId)}};
    j["Oem"] = oem::oemMember("ManagerAccount", Json{{"OSPrivilegeLevel", a.osPrivilegeLevel}});
    return j;
}

Json rolePayload(const RoleDefinition& role) {
    Json j = resource(kRoles + "/" + role.id, "#Role.v1_3_3.Role", role.id, role.id + " Role");
    j["Description"] = role.description;
    j["IsPredefined"] = true;
    j["RoleId"] = role.id;
    j["AssignedPrivileges"] = role.privileges;
    return j;
}

Json accountServicePayload(const AccountPolicy& policy) {
    Json j = resource(R + "/AccountService", "#AccountService.v1_18_1.AccountService",
                      "AccountService", "Account Service");
    j["ServiceEnabled"] = true;
    j["Status"] = status("Enabled", "OK");
    // Accounts serve Redfish only, as each account's AccountTypes says.
    j["SupportedAccountTypes"] = Json::array({"Redfish"});
    j.update(policy.toJson());
    j["Accounts"] = link(kAccounts);
    j["Roles"] = link(kRoles);
    return j;
}

// Longest client address text taken (an IPv6 address with a zone fits).
constexpr size_t kMaxClientAddressLength = 128;

// The credentials of a login. The server wraps the client's body as the
// text member "requestBody", beside "x-forwarded-for" and (newer servers)
// "clientAddress"; a body sent straight to the plug-in is taken as it is.
std::pair<std::string, std::string> loginCredentials(const Request& r, std::string& origin,
                                                     std::string& clientAddress) {
    Json credentials = r.body();
    if (credentials.contains("requestBody")) {
        if (credentials.contains("x-forwarded-for") && credentials["x-forwarded-for"].is_string())
            origin = credentials["x-forwarded-for"].get<std::string>();
        if (credentials.contains("clientAddress")) {
            const Json& address = credentials["clientAddress"];
            if (!address.is_string() || address.get<std::string>().size() > kMaxClientAddressLength)
                throw errors::unrecognizedRequestBody();
            clientAddress = address.get<std::string>();
        }
        const Json& text = credentials["requestBody"];
        if (!text.is_string())
            throw errors::unrecognizedRequestBody();
        credentials = parseRequestJson(text.get<std::string>());
        if (!credentials.is_object())
            throw errors::unrecognizedRequestBody();
    }
    for (const char* name : {"UserName", "Password"}) {
        if (!credentials.contains(name))
            throw errors::propertyMissing(name);
        if (!credentials[name].is_string())
            throw errors::propertyValueTypeError(
                std::string(name) == "Password" ? "******" : argumentText(credentials[name]), name);
    }
    return {credentials["UserName"].get<std::string>(), credentials["Password"].get<std::string>()};
}

// Times a login hashes anew when its account changed while it hashed; past
// them it is refused like a wrong password.
constexpr int kLoginAttempts = 3;

using ReadLock = std::shared_lock<std::shared_mutex>;
using WriteLock = std::unique_lock<std::shared_mutex>;

Account& findAccount(PluginService& s, const std::string& id) {
    Account* a = s.accounts().find(id);
    if (!a)
        throw errors::resourceNotFound("ManagerAccount", id);
    return *a;
}

} // namespace

void addAccountResources(Router& router, PluginService& service) {
    PluginService* s = &service;

    router.add("GET", "SessionService", [](const Request&) {
        Json j = resource(R + "/SessionService", "#SessionService.v1_2_0.SessionService",
                          "SessionService", "Session Service");
        j["ServiceEnabled"] = true;
        j["SessionTimeout"] = SessionStore::kLifetimeSeconds;
        j["Status"] = status("Enabled", "OK");
        j["Sessions"] = link(kSessions);
        return Reply::ok(j);
    });
    // Reading the sessions prunes the expired ones: a write.
    router.add("GET", "SessionService/Sessions", Access::Write, [s](const Request&) {
        s->sessions().prune(s->now());
        std::vector<std::string> members;
        for (const auto& session : s->sessions().sessions())
            members.push_back(kSessions + "/" + session.id);
        return Reply::ok(collection(kSessions, "#SessionCollection.SessionCollection",
                                    "Session Collection", members));
    });
    // The password is hashed with no lock held, so logins neither wait for
    // each other nor hold up other requests; the verdict is taken under it.
    router.add("POST", "SessionService/Sessions", Access::Own, [s](const Request& r) {
        std::string origin, clientAddress;
        auto [user, password] = loginCredentials(r, origin, clientAddress);
        const int64_t now = s->now();
        WriteLock lock(s->modelLock(), std::defer_lock);
        Account* account = nullptr;
        for (int attempt = 1;; ++attempt) {
            LoginCheck check;
            {
                ReadLock reading(s->modelLock());
                check = s->accounts().loginCheck(user);
            }
            const std::string hash = check.hashOf(password);
            lock.lock();
            bool stale = false;
            account = s->accounts().completeLogin(check, hash, now, clientAddress, stale);
            if (!stale || attempt == kLoginAttempts)
                break;
            lock.unlock();
        }
        if (!account) {
            s->log().debug("Login", "login refused for user \"" + user + "\"");
            throw errors::loginFailed(kSessions);
        }
        const Session& session = s->sessions().create(*account, origin, now);
        Reply reply;
        reply.kind = Reply::Kind::Login;
        reply.status = 201;
        reply.data = sessionPayload(session);
        reply.sessionInfo = Json{{"Role", roleUri(account->roleId)},
                                 {"OSPrivilegeLevel", account->sessionPrivilegeLevel()}};
        reply.token = crypto::randomHex(32);
        reply.location = kSessions + "/" + session.id;
        s->log().debug("Login",
                       "session " + session.id + " opened for \"" + account->userName + "\"");
        return reply;
    });
    router.add("GET", "SessionService/Sessions/{session}", Access::Write, [s](const Request& r) {
        s->sessions().prune(s->now());
        const Session* session = s->sessions().find(r.param("session"));
        if (!session)
            throw errors::resourceNotFound("Session", r.param("session"));
        return Reply::ok(sessionPayload(*session));
    });
    router.add("DELETE", "SessionService/Sessions/{session}", [s](const Request& r) {
        if (!s->sessions().remove(r.param("session")))
            throw errors::resourceNotFound("Session", r.param("session"));
        s->log().debug("Logout", "session " + r.param("session") + " closed");
        return Reply::ok(successPayload());
    });

    router.add("GET", "AccountService", [s](const Request&) {
        return Reply::ok(accountServicePayload(s->accounts().policy()));
    });
    // The rules apply from the next login and the next password set.
    router.add("PATCH", "AccountService", [s](const Request& r) {
        const Json& body = r.body();
        return s->changeAccounts([&] {
            s->accounts().setPolicy(s->accounts().policy().patched(body));
            s->log().debug("AccountService", "account policy changed");
            return Reply::ok(accountServicePayload(s->accounts().policy()));
        });
    });
    router.add("GET", "AccountService/Accounts", [s](const Request&) {
        std::vector<std::string> members;
        for (const auto& a : s->accounts().accounts())
            members.push_back(kAccounts + "/" + a.id);
        return Reply::ok(collection(kAccounts, "#ManagerAccountCollection.ManagerAccountCollection",
                                    "Accounts Collection", members));
    });
    // Creation and password changes hash with no lock held: first every check
    // (so that a refused request costs no hashing), then the hash, then the
    // change, checked again, under the lock.
    router.add("POST", "AccountService/Accounts", Access::Own, [s](const Request& r) {
        NewAccount account;
        {
            ReadLock reading(s->modelLock());
            account = AccountStore::newAccountFromRequest(r.body(), s->accounts().policy());
            s->accounts().checkRoomFor(account.userName);
        }
        const PasswordHash hashed = PasswordHash::of(account.password);
        WriteLock writing(s->modelLock());
        return s->changeAccounts([&] {
            const Account a = s->accounts().add(account, hashed);
            s->log().debug("CreateAccount", "account \"" + a.userName + "\" created");
            return Reply::created(accountPayload(a, s->now()));
        });
    });
    // Another user's account is for ConfigureUsers and ConfigureManager only,
    // also when the collection is read with its members expanded.
    router.add("GET", "AccountService/Accounts/{account}", [s](const Request& r) {
        const Account& account = findAccount(*s, r.param("account"));
        const Caller& c = r.caller;
        if (c.known && !c.has("ConfigureUsers") && !c.has("ConfigureManager") &&
            !sameUserName(account.userName, c.userName))
            throw errors::insufficientPrivilege();
        return Reply::ok(accountPayload(account, s->now()));
    });
    router.add("PATCH", "AccountService/Accounts/{account}", Access::Own, [s](const Request& r) {
        const Json& body = r.body();
        std::string password;
        {
            ReadLock reading(s->modelLock());
            s->accounts().patched(findAccount(*s, r.param("account")), body, password);
        }
        std::optional<PasswordHash> hashed;
        if (!password.empty())
            hashed = PasswordHash::of(password);
        WriteLock writing(s->modelLock());
        bool firstPasswordReplaced = false;
        Reply reply = s->changeAccounts([&] {
            Account& a = findAccount(*s, r.param("account"));
            const Account before = a;
            s->accounts().patch(a, body, hashed ? &*hashed : nullptr);
            // A changed password, role or state ends the account's sessions.
            if (a.hash != before.hash || a.roleId != before.roleId || a.enabled != before.enabled ||
                a.osPrivilegeLevel != before.osPrivilegeLevel)
                s->sessions().removeForAccount(a.id);
            firstPasswordReplaced = a.hash != before.hash && a.id == "1";
            return Reply::ok(accountPayload(a, s->now()));
        });
        // Only once the new password is stored is the first one no longer
        // current: a refused change must leave its only record in place.
        if (firstPasswordReplaced) {
            std::error_code ec;
            std::filesystem::remove(s->paths().adminPasswordFile, ec);
        }
        return reply;
    });
    router.add("DELETE", "AccountService/Accounts/{account}", [s](const Request& r) {
        return s->changeAccounts([&] {
            s->accounts().remove(r.param("account"));
            s->sessions().removeForAccount(r.param("account"));
            return Reply::ok(successPayload());
        });
    });

    router.add("GET", "AccountService/Roles", [](const Request&) {
        std::vector<std::string> members;
        for (const auto& role : roleDefinitions())
            members.push_back(kRoles + "/" + role.id);
        return Reply::ok(
            collection(kRoles, "#RoleCollection.RoleCollection", "Roles Collection", members));
    });
    router.add("GET", "AccountService/Roles/{role}", [](const Request& r) {
        const RoleDefinition* role = findRole(r.param("role"));
        if (!role)
            throw errors::resourceNotFound("Role", r.param("role"));
        return Reply::ok(rolePayload(*role));
    });
}

} // namespace tolvane::plugin
