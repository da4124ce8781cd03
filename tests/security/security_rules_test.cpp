// The gate's rules as data and pure functions: the privilege table, the
// route table, cross-site requests and failed-login throttling.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>
#include <vector>

#include "gate/crosssite.h"
#include "gate/requestpath.h"
#include "session/loginthrottle.h"
#include "routes/routetable.h"
#include "session/privileges.h"

namespace {

using namespace privilege;

// The registry's operation maps, read from DMTF's file, against the rule the
// gate looks up for a URI each entity's schema declares.
TEST(PrivilegeTable, EachEntityUriFollowsTheRegistry) {
    const std::string data = TOLVANE_REDFISH_DATA;
    std::ifstream in(data + "/registries/Redfish_1.8.0_PrivilegeRegistry.json");
    const nlohmann::json registry = nlohmann::json::parse(in, nullptr, false);
    ASSERT_TRUE(registry.contains("Mappings"));
    const PrivilegeSet roles[] = {All, Login | ConfigureComponents | ConfigureSelf,
                                  Login | ConfigureSelf, Login | ConfigureUsers};
    int checked = 0;
    for (const auto& mapping : registry["Mappings"]) {
        const std::string entity = mapping["Entity"];
        // Below another entity an override may decide; those are checked apart.
        if (mapping.contains("SubordinateOverrides"))
            continue;
        std::ifstream schemaFile(data + "/json-schema/" + entity + ".json");
        const nlohmann::json schema = nlohmann::json::parse(schemaFile, nullptr, false);
        const nlohmann::json uris =
            schema.is_object() ? schema["definitions"][entity].value("uris", nlohmann::json())
                               : nlohmann::json();
        if (!uris.is_array() || uris.empty())
            continue;
        // "{Id}" segments as an Id, the letter case as a careless client writes it.
        std::string uri =
            std::regex_replace(uris[0].get<std::string>(), std::regex("\\{[^}]*\\}"), "Id1");
        std::transform(uri.begin(), uri.end(), uri.begin(), ::toupper);
        for (const auto& [method, alternatives] : mapping["OperationMap"].items()) {
            if (entity.rfind("Task", 0) == 0 && method == "DELETE")
                continue; // a task's owner may cancel it (below)
            for (PrivilegeSet held : roles) {
                for (bool own : {false, true}) {
                    bool expected = false;
                    for (const auto& alternative : alternatives) {
                        PrivilegeSet needed = 0;
                        for (const auto& name : alternative["Privilege"])
                            needed |= privilegeNamed(name.get<std::string>());
                        const bool self = (needed & ConfigureSelf) != 0;
                        expected = expected ||
                                   ((held & needed) == needed &&
                                    (!self ||
                                     (own && (entity == "ManagerAccount" || entity == "Session"))));
                    }
                    const AccessRule rule = accessRuleFor(routeOf(uri), method, uri);
                    const bool ownKnown = rule.self != SelfRule::None && own;
                    EXPECT_EQ(meets(rule.required, held, ownKnown), expected)
                        << method << " " << uri << " held " << privilegeNamesOf(held)
                        << (own ? " own" : "");
                    ++checked;
                }
            }
        }
    }
    EXPECT_GT(checked, 1000);
}

TEST(PrivilegeTable, ActionsOverridesAndPathsNoEntityNames) {
    struct Case {
        const char* method;
        const char* path;
        PrivilegeSet held;
        bool allowed;
    } cases[] = {
        // An action is a POST to its resource; OEM parts belong to it too.
        {"POST", "/redfish/v1/Managers/1/Actions/Manager.Reset", Login | ConfigureComponents,
         false},
        {"POST", "/redfish/v1/Systems/1/Actions/ComputerSystem.Reset", ConfigureComponents, true},
        {"POST", "/redfish/v1/Systems/1/Storage/1/Actions/Oem/X.Y", ConfigureComponents, true},
        {"GET", "/redfish/v1/AccountService/Accounts/2/Oem/X", Login, false},
        // A certificate below a system is the system's, below a manager the manager's.
        {"GET", "/redfish/v1/Systems/1/Certificates/1", ConfigureComponents, true},
        {"GET", "/redfish/v1/Managers/1/Certificates/1", ConfigureComponents, false},
        {"DELETE", "/redfish/v1/TaskService/Tasks/1", Login, true},
        {"DELETE", "/redfish/v1/TaskService/TaskMonitors/1", Login, true},
        // Unknown parts of the service and paths outside it are the manager's.
        {"POST", "/redfish/v1/Unknown", ConfigureComponents | ConfigureUsers, false},
        {"GET", "/redfish/v1/Unknown", Login, true},
        {"DELETE", "/redfish/v2/Systems/1", ConfigureComponents, false},
        {"POST", "/redfish/v1", ConfigureComponents, false},
        {"POST", "/redfish/v1/SystemsX/1", ConfigureComponents, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(meets(accessRuleFor(routeOf(c.path), c.method, c.path).required, c.held, false),
                  c.allowed)
            << c.method << " " << c.path;
    }
    // A password-only change of one's own account, by the property override.
    const char* const account = "/redfish/v1/AccountService/Accounts/2";
    const AccessRule password = accessRuleFor(routeOf(account), "PATCH", account);
    EXPECT_EQ(password.self, SelfRule::OwnAccount);
    EXPECT_TRUE(onlyTheseChange({"Password"}, password.properties));
    EXPECT_FALSE(onlyTheseChange({"Password", "RoleId"}, password.properties));
    EXPECT_FALSE(onlyTheseChange({}, password.properties));
    EXPECT_TRUE(meets(password.forProperties, Login | ConfigureSelf, true));
    EXPECT_FALSE(meets(password.forProperties, Login | ConfigureSelf, false));
    EXPECT_FALSE(meets(password.required, Login | ConfigureSelf, true));
}

TEST(PrivilegeTable, StandardRolesAndRoleDocuments) {
    EXPECT_EQ(standardRolePrivileges("Administrator"), All);
    EXPECT_EQ(standardRolePrivileges("Operator"), Login | ConfigureComponents | ConfigureSelf);
    EXPECT_EQ(standardRolePrivileges("ReadOnly"), Login | ConfigureSelf);
    EXPECT_FALSE(standardRolePrivileges("administrator").has_value());
    EXPECT_FALSE(standardRolePrivileges("").has_value());
    EXPECT_EQ(privilegesNamed({"Login", "ConfigureSelf", "NoSuchPrivilege", "login"}),
              Login | ConfigureSelf);
    EXPECT_EQ(roleIdOf("/redfish/v1/AccountService/Roles/Operator/"), "Operator");
    EXPECT_EQ(roleIdOf("Operator"), "Operator");
}

TEST(PathMeaning, DecodedQueryFragmentAndControlCharactersAreRefused) {
    // Once decoded, only the characters themselves are looked for: an escaped
    // "%" is an ordinary character.
    EXPECT_TRUE(decodedPathHasOneMeaning("/redfish/v1/Systems/%3F"));
    EXPECT_FALSE(decodedPathHasOneMeaning("/redfish/v1/Systems/?"));
    EXPECT_FALSE(decodedPathHasOneMeaning("/redfish/v1/Systems/#"));
    EXPECT_FALSE(decodedPathHasOneMeaning("/redfish/v1/Systems/\x7f"));
    EXPECT_FALSE(decodedPathHasOneMeaning("/redfish/v1/Systems/\n"));
}

// What the route table tells the gate and the roads of a path.
TEST(RouteTable, KindsMethodsAndUploadTargets) {
    using K = RouteKind;
    const struct {
        const char* path;
        RouteKind kind;
        const char* allow;
        const char* upload; // the upload target's name, "" for none
    } cases[] = {
        // Only the session collection's own spelling is a login.
        {"/redfish/v1/SessionService/Sessions", K::SessionCollection, "GET, HEAD, POST", ""},
        {"/REDFISH/v1/sessionservice/SESSIONS/", K::SessionCollection, "GET, HEAD, POST", ""},
        {"/redfish/v1/SessionService/Sessions//", K::Resource, "GET, HEAD, POST", ""},
        {"/x/redfish/v1/SessionService/Sessions", K::Resource, "GET, HEAD", ""},
        {"/redfish/v1/Chassis/1/Drives/0/Actions/Drive.SecureErase/SessionService/Sessions",
         K::Resource, "POST", ""},
        {"/redfish/v1/sessionservice/sessions/7", K::SessionMember, "GET, HEAD, DELETE", ""},
        {"/redfish/v1/SessionService", K::SessionService, "GET, HEAD, PATCH", ""},
        {"/redfish/v1/AccountService/Accounts/3/", K::AccountMember, "GET, HEAD, PATCH, DELETE",
         ""},
        {"/redfish/v1/AccountService/Accounts/3/X", K::Resource, "GET, HEAD", ""},
        {"/redfish/v1/", K::ServiceRoot, "GET, HEAD", ""},
        {"/redfish/v1/Systems/1/Storage/1/Volumes/3/Actions/Volume.Initialize", K::Resource, "POST",
         ""},
        {"/redfish/v1/Chassis/1/Drives/0", K::Resource, "GET, HEAD, PATCH", ""},
        {"/other/Actions/x", K::Resource, "GET, HEAD", ""},
        // Upload targets: the push URI, and the OEM actions wherever their name
        // occurs, restore first.
        {"/redfish/v1/UpdateService/MultipartUpload", K::Resource, "POST",
         "/redfish/v1/UpdateService/MultipartUpload"},
        {"/redfish/v1/Managers/1/Actions/Oem/Veltrano.RestoreConfiguration", K::Resource, "POST",
         "Veltrano.RestoreConfiguration"},
        {"/redfish/v1/x/veltrano.installorupgradefirmware", K::Resource, "GET, HEAD",
         "Veltrano.InstallOrUpgradeFirmware"},
        {"/redfish/v1/Veltrano.UpgradeMicrocode/Veltrano.RestoreConfiguration", K::Resource,
         "GET, HEAD", "Veltrano.RestoreConfiguration"},
        {"/redfish/v1/x/Veltrano.SPDMOperations", K::Resource, "GET, HEAD",
         "Veltrano.SPDMOperations"},
        {"/redfish/v1/UpdateService", K::Resource, "GET, HEAD", ""},
    };
    for (const auto& c : cases) {
        const Route route = routeOf(c.path);
        EXPECT_EQ(route.kind, c.kind) << c.path;
        EXPECT_STREQ(route.allow, c.allow) << c.path;
        EXPECT_STREQ(route.upload ? route.upload->name : "", c.upload) << c.path;
    }
    EXPECT_TRUE(routeOf("/redfish/v1/Managers/1/Actions/Oem/Veltrano.RestoreConfiguration")
                    .upload->withLogFile);
}

TEST(CrossSite, CookieOnlyWritesNeedTheirRoadsTypeAndTheirOwnOrigin) {
    struct Case {
        const char* method;
        bool multipart;
        const char* contentType;
        const char* origin;
        const char* fetchSite;
        bool allowed;
    };
    const Case cases[] = {
        {"GET", false, nullptr, "https://evil.example", "cross-site", true},
        {"POST", false, "application/json", nullptr, nullptr, true},
        {"POST", false, "application/json; charset=utf-8", "https://bmc:8443", nullptr, true},
        {"POST", false, "text/plain", nullptr, nullptr, false},
        {"POST", false, "application/x-www-form-urlencoded", nullptr, nullptr, false},
        {"POST", false, nullptr, nullptr, nullptr, false},
        {"POST", false, "application/json", "https://evil.example", nullptr, false},
        {"POST", false, "application/json", "null", nullptr, false},
        {"POST", false, "application/json", "https://bmc:8443.evil.example", nullptr, false},
        {"POST", false, "application/json", nullptr, "cross-site", false},
        {"POST", false, "application/json", nullptr, "same-origin", true},
        {"POST", true, "multipart/form-data; boundary=x", "https://bmc:8443", nullptr, true},
        {"POST", true, "multipart/form-data; boundary=x", "https://evil.example", nullptr, false},
        {"POST", false, "multipart/form-data; boundary=x", nullptr, nullptr, false},
        {"PATCH", false, "text/plain", nullptr, nullptr, false},
        {"DELETE", false, nullptr, nullptr, nullptr, true},
        {"DELETE", false, nullptr, "https://evil.example", nullptr, false},
        {"DELETE", false, "text/plain", nullptr, nullptr, false},
    };
    for (const Case& c : cases) {
        CrossSiteFacts facts;
        facts.method = c.method;
        facts.multipartRoad = c.multipart;
        facts.contentType = c.contentType;
        facts.origin = c.origin;
        facts.host = "bmc:8443";
        facts.secFetchSite = c.fetchSite;
        EXPECT_EQ(cookieRequestAllowed(facts), c.allowed)
            << c.method << " " << (c.contentType ? c.contentType : "-") << " "
            << (c.origin ? c.origin : "-");
    }
}

TEST(LoginThrottle, FailedLoginsFromOneAddressBackOffWithoutTouchingOthers) {
    LoginThrottle throttle;
    const int64_t t0 = 1700000000;
    for (int i = 0; i < 5; ++i)
        throttle.recordFailure("10.0.0.1", "", t0 + i);
    EXPECT_EQ(throttle.blockedFor("10.0.0.1", "", t0 + 5), 0) << "five failures are allowed";
    throttle.recordFailure("10.0.0.1", "", t0 + 5);
    EXPECT_EQ(throttle.blockedFor("10.0.0.1", "", t0 + 5), 60);
    EXPECT_EQ(throttle.blockedFor("10.0.0.2", "", t0 + 5), 0) << "other addresses are not blocked";
    EXPECT_EQ(throttle.blockedFor("10.0.0.1", "", t0 + 65), 0);
    // The next run of failures right after doubles the period, up to the cap.
    int64_t t = t0 + 65;
    int64_t expected = 120;
    for (int round = 0; round < 6; ++round) {
        for (int i = 0; i < 6; ++i)
            throttle.recordFailure("10.0.0.1", "", t);
        EXPECT_EQ(throttle.blockedFor("10.0.0.1", "", t), expected) << round;
        t += expected;
        expected = std::min<int64_t>(expected * 2, 15 * 60);
    }
    // A quiet window after the last block starts over.
    t += 120;
    for (int i = 0; i < 6; ++i)
        throttle.recordFailure("10.0.0.1", "", t);
    EXPECT_EQ(throttle.blockedFor("10.0.0.1", "", t), 60);
}

TEST(LoginThrottle, FailuresSpreadOverMoreThanAWindowDoNotBlock) {
    LoginThrottle throttle;
    const int64_t t0 = 1700000000;
    for (int i = 0; i < 20; ++i)
        throttle.recordFailure("10.0.0.1", "", t0 + i * 13); // at most 5 per 60 s
    EXPECT_EQ(throttle.blockedFor("10.0.0.1", "", t0 + 20 * 13), 0);
}

TEST(LoginThrottle, AddressFloodKeepsTheTableBounded) {
    LoginThrottlePolicy policy;
    policy.maximumAddresses = 100;
    LoginThrottle throttle(policy);
    const int64_t t0 = 1700000000;
    for (int i = 0; i < 1000; ++i)
        throttle.recordFailure("10.1." + std::to_string(i), "", t0 + 61 + i);
    EXPECT_LE(throttle.entryCount(), 100u);
}

// 64 clients over hundreds of addresses guessed at one account unhindered:
// past ten failures the name's attempts are spaced, doubling up to a cap.
TEST(LoginThrottle, RotatingAddressesStillSlowGuessesAtOneUser) {
    LoginThrottle throttle;
    int64_t t = 1700000000;
    std::vector<int64_t> waits;
    for (int i = 0; i < 18; ++i) {
        const std::string address = "10.2.0." + std::to_string(i);
        const int64_t wait = throttle.blockedFor(address, i % 2 ? "ADMIN" : "admin", t);
        waits.push_back(wait);
        if (wait > 0) {
            ASSERT_EQ(throttle.blockedFor(address, "Admin", t += wait), 0) << i;
        }
        throttle.recordFailure(address, i % 2 ? "admin" : "Admin", t);
    }
    EXPECT_EQ(waits,
              (std::vector<int64_t>{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 4, 8, 16, 30, 30}));
    EXPECT_EQ(throttle.blockedFor("10.3.0.1", "operator", t), 0) << "other names go on";
}

// The spacing must not become a lock-out that guessers impose on the owner.
TEST(LoginThrottle, GuessesAtANameDoNotSlowItsOwnerAtAKnownAddress) {
    LoginThrottle throttle;
    const int64_t t0 = 1700000000;
    throttle.recordSuccess("192.0.2.7", "admin", t0);
    for (int i = 0; i < 50; ++i)
        throttle.recordFailure("10.4.0." + std::to_string(i), "admin", t0 + 1);
    const int64_t strangerWait = throttle.blockedFor("10.4.1.1", "admin", t0 + 1);
    EXPECT_GT(strangerWait, 0);
    EXPECT_LE(strangerWait, 30) << "a delay, never a lock-out";
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(throttle.blockedFor("192.0.2.7", "ADMIN", t0 + 1), 0)
            << "the owner takes no turn";
}

// One IPv6 /64 gives an attacker millions of addresses.
TEST(LoginThrottle, AddressesOfOneIpv6Slash64CountAsOne) {
    const struct {
        std::string prefix; // failing addresses: prefix + 1..6 (or the prefix alone)
        bool rotate;
        const char* asked;
        bool blocked;
    } cases[] = {
        {"2001:db8:1:2::", true, "2001:db8:1:2:ffff:ffff:ffff:fffe", true},
        {"2001:db8:1:2::", true, "[2001:db8:1:2::77]", true},
        {"2001:db8:1:2::", true, "2001:db8:1:3::1", false},
        {"::ffff:10.0.0.1", false, "10.0.0.1", true},
        {"10.0.0.", true, "10.0.0.9", false},
    };
    for (const auto& c : cases) {
        LoginThrottle throttle;
        for (int i = 1; i <= 6; ++i)
            throttle.recordFailure(c.rotate ? c.prefix + std::to_string(i) : c.prefix, "", 1000);
        EXPECT_EQ(throttle.blockedFor(c.asked, "", 1000) > 0, c.blocked)
            << c.prefix << " " << c.asked;
    }
}

// Making room erased an arbitrary entry, possibly a blocked one.
TEST(LoginThrottle, BlockedAddressIsNeverForgottenToMakeRoom) {
    LoginThrottlePolicy policy;
    policy.maximumAddresses = 3;
    LoginThrottle throttle(policy);
    const int64_t t0 = 1700000000;
    auto block = [&](const std::string& address) {
        for (int i = 0; i < 6; ++i)
            throttle.recordFailure(address, "", t0);
    };
    block("10.5.0.1");
    block("10.5.0.2");
    throttle.recordFailure("10.5.0.3", "", t0); // counting, not blocked: it makes room
    block("10.5.0.4");
    EXPECT_EQ(throttle.entryCount(), 3u);
    for (const char* address : {"10.5.0.1", "10.5.0.2", "10.5.0.4"})
        EXPECT_EQ(throttle.blockedFor(address, "", t0), 60) << address;
    EXPECT_EQ(throttle.blockedFor("10.5.0.5", "", t0), 60) << "a newcomer waits for room";
    EXPECT_EQ(throttle.blockedFor("10.5.0.5", "", t0 + 60), 0);
}

// Wrong passwords cost a password hash each: past the budget, strangers hash
// one at a time; every hash runs at a lower CPU priority, a known address
// skips only the lane.
TEST(LoginThrottle, FailureFloodSendsStrangersThroughOneSlowLane) {
    LoginThrottlePolicy policy;
    policy.failureHashesPerSecond = 3;
    policy.laneWaiting = 0; // no queue: the second stranger is refused at once
    LoginThrottle throttle(policy);
    const int64_t t0 = 1700000000;
    throttle.recordSuccess("192.0.2.7", "admin", t0);
    for (int i = 0; i < 4; ++i)
        throttle.recordFailure("10.6.0." + std::to_string(i), "u" + std::to_string(i), t0);
    const int niceBefore = getpriority(PRIO_PROCESS, 0);
    {
        LoginLane first(throttle, "10.6.1.1", "admin", t0);
        EXPECT_TRUE(first.admitted() && first.inLane());
        if (lanePriorityCanBeRestored()) {
            EXPECT_GT(getpriority(PRIO_PROCESS, 0), niceBefore);
        }
        EXPECT_FALSE(LoginLane(throttle, "10.6.1.2", "bob", t0).admitted()) << "one at a time";
        LoginLane owner(throttle, "192.0.2.7", "Admin", t0);
        EXPECT_TRUE(owner.admitted() && !owner.inLane()) << "a known address skips the lane";
    }
    EXPECT_EQ(getpriority(PRIO_PROCESS, 0), niceBefore);
    {
        LoginLane known(throttle, "192.0.2.7", "admin", t0);
        if (lanePriorityCanBeRestored()) {
            EXPECT_GT(getpriority(PRIO_PROCESS, 0), niceBefore) << "outside the lane it yields too";
        }
    }
    EXPECT_EQ(getpriority(PRIO_PROCESS, 0), niceBefore);
    EXPECT_TRUE(LoginLane(throttle, "10.6.1.2", "bob", t0).inLane()) << "the next one's turn";
    EXPECT_FALSE(LoginLane(throttle, "10.6.1.2", "bob", t0 + policy.laneCalmSeconds).inLane());
}

} // namespace
