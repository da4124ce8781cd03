// The gate's rules as data and pure functions: the privilege table, the
// meaning of a path, cross-site requests and failed-login throttling.
#include <gtest/gtest.h>

#include <string>

#include "gate/crosssite.h"
#include "gate/requestpath.h"
#include "session/loginthrottle.h"
#include "session/privileges.h"

namespace {

using namespace privilege;

struct AccessCase {
    const char* method;
    const char* path;
    PrivilegeSet required;
    SelfRule self;
};

TEST(PrivilegeTable, OperatorCannotReachUsersOrManagerButKeepsComponents) {
    const AccessCase cases[] = {
        {"GET", "/redfish/v1/AccountService/Accounts/1", Login, SelfRule::None},
        {"HEAD", "/redfish/v1/Systems", Login, SelfRule::None},
        {"GET", "/redfish/v2/Anything", Login, SelfRule::None},
        {"POST", "/redfish/v1/AccountService/Accounts", ConfigureUsers, SelfRule::None},
        {"PATCH", "/redfish/v1/AccountService/Accounts/2", ConfigureUsers,
         SelfRule::OwnAccountPassword},
        {"patch", "/REDFISH/V1/accountservice/accounts/2/", ConfigureUsers,
         SelfRule::OwnAccountPassword},
        {"DELETE", "/redfish/v1/AccountService/Accounts/2", ConfigureUsers, SelfRule::None},
        {"PATCH", "/redfish/v1/AccountService", ConfigureUsers, SelfRule::None},
        {"PATCH", "/redfish/v1/AccountService/Roles/Operator", ConfigureUsers, SelfRule::None},
        {"DELETE", "/redfish/v1/SessionService/Sessions/7", ConfigureManager, SelfRule::OwnSession},
        {"PATCH", "/redfish/v1/SessionService", ConfigureManager, SelfRule::None},
        {"POST", "/redfish/v1/Managers/1/Actions/Manager.Reset", ConfigureManager, SelfRule::None},
        {"POST", "/redfish/v1/EventService/Subscriptions", ConfigureManager, SelfRule::None},
        {"DELETE", "/redfish/v1/TaskService/Tasks/1", ConfigureManager, SelfRule::None},
        {"POST", "/redfish/v1/Systems/1/Storage/1/Volumes", ConfigureComponents, SelfRule::None},
        {"POST", "/redfish/v1/Chassis/1/Drives/0/Actions/Drive.SecureErase", ConfigureComponents,
         SelfRule::None},
        {"PATCH", "/redfish/v1/StorageServices/1", ConfigureComponents, SelfRule::None},
        {"POST", "/redfish/v1/StorageSystems", ConfigureComponents, SelfRule::None},
        // Unknown parts of the service and paths outside it are the manager's.
        {"POST", "/redfish/v1/Unknown", ConfigureManager, SelfRule::None},
        {"DELETE", "/redfish/v2/Systems/1", ConfigureManager, SelfRule::None},
        {"POST", "/redfish/v1", ConfigureManager, SelfRule::None},
        // A look-alike segment is not the collection it resembles.
        {"POST", "/redfish/v1/SystemsX/1", ConfigureManager, SelfRule::None},
    };
    for (const AccessCase& c : cases) {
        const AccessRule rule = accessRuleFor(c.method, c.path);
        EXPECT_EQ(rule.required, c.required) << c.method << " " << c.path;
        EXPECT_EQ(rule.self, c.self) << c.method << " " << c.path;
    }
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

TEST(PathMeaning, OnlyTheSessionCollectionItselfIsALogin) {
    const std::pair<const char*, bool> cases[] = {
        {"/redfish/v1/SessionService/Sessions", true},
        {"/redfish/v1/SessionService/Sessions/", true},
        {"/REDFISH/v1/sessionservice/SESSIONS", true},
        {"/redfish/v1/Chassis/1/Drives/0/Actions/Drive.SecureErase/SessionService/Sessions", false},
        {"/redfish/v1/SessionService/Sessions//", false},
        {"/redfish/v1/SessionService/Sessions/1", false},
        {"/x/redfish/v1/SessionService/Sessions", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(isSessionCollection(c.first), c.second) << c.first;
    EXPECT_TRUE(isAccountMember("/redfish/v1/AccountService/Accounts/3/"));
    EXPECT_FALSE(isAccountMember("/redfish/v1/AccountService/Accounts"));
    EXPECT_FALSE(isAccountMember("/redfish/v1/AccountService/Accounts/3/X"));
    EXPECT_TRUE(isSessionMember("/redfish/v1/sessionservice/sessions/abc"));
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
        throttle.recordFailure("10.0.0.1", t0 + i);
    EXPECT_EQ(throttle.blockedFor("10.0.0.1", t0 + 5), 0) << "five failures are allowed";
    throttle.recordFailure("10.0.0.1", t0 + 5);
    EXPECT_EQ(throttle.blockedFor("10.0.0.1", t0 + 5), 60);
    EXPECT_EQ(throttle.blockedFor("10.0.0.2", t0 + 5), 0) << "other addresses are not blocked";
    EXPECT_EQ(throttle.blockedFor("10.0.0.1", t0 + 65), 0);
    // The next run of failures right after doubles the period, up to the cap.
    int64_t t = t0 + 65;
    int64_t expected = 120;
    for (int round = 0; round < 6; ++round) {
        for (int i = 0; i < 6; ++i)
            throttle.recordFailure("10.0.0.1", t);
        EXPECT_EQ(throttle.blockedFor("10.0.0.1", t), expected) << round;
        t += expected;
        expected = std::min<int64_t>(expected * 2, 15 * 60);
    }
    // A quiet window after the last block starts over.
    t += 120;
    for (int i = 0; i < 6; ++i)
        throttle.recordFailure("10.0.0.1", t);
    EXPECT_EQ(throttle.blockedFor("10.0.0.1", t), 60);
}

TEST(LoginThrottle, FailuresSpreadOverMoreThanAWindowDoNotBlock) {
    LoginThrottle throttle;
    const int64_t t0 = 1700000000;
    for (int i = 0; i < 20; ++i)
        throttle.recordFailure("10.0.0.1", t0 + i * 13); // at most 5 per 60 s
    EXPECT_EQ(throttle.blockedFor("10.0.0.1", t0 + 20 * 13), 0);
}

TEST(LoginThrottle, AddressFloodKeepsTheTableBounded) {
    LoginThrottlePolicy policy;
    policy.maximumAddresses = 100;
    LoginThrottle throttle(policy);
    const int64_t t0 = 1700000000;
    for (int i = 0; i < 1000; ++i)
        throttle.recordFailure("10.1." + std::to_string(i), t0 + 61 + i);
    EXPECT_LE(throttle.entryCount(), 100u);
}

} // namespace
