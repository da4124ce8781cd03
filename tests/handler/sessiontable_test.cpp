// The session table and the authorisation rules on top of it.
#include <gtest/gtest.h>

#include <string>

#include "session/sessionauth.h"
#include "session/sessiontable.h"

namespace {

const int64_t kNow = 1700000000;
const char kAdmin[] = "{\"Role\":\"/redfish/v1/AccountService/Roles/Administrator\","
                      "\"OSPrivilegeLevel\":\"Administrator\"}";

SessionRecord record(const std::string& token, const std::string& address, int64_t createdAt,
                     const std::string& info = kAdmin, const std::string& location = "",
                     const std::string& user = "admin") {
    SessionRecord r;
    r.userName = user;
    r.token = token;
    r.sessionInfo = info;
    r.hostName = "server";
    r.clientAddress = address;
    r.createdAt = createdAt;
    r.location = location;
    return r;
}

class Sessions : public ::testing::Test {
  protected:
    void SetUp() override { sessionTable.clear(); }
    void TearDown() override { sessionTable.clear(); }
};

TEST_F(Sessions, FallbackAndEmptyTokensAreNeverStored) {
    EXPECT_EQ(AddSessionResult::NoToken, addSession(record("", "127.0.0.1", kNow), 0, kNow));
    EXPECT_EQ(AddSessionResult::NoToken,
              addSession(record("root parse failed", "127.0.0.1", kNow), 0, kNow));
    EXPECT_EQ(AddSessionResult::NoToken, addSession(record("{}", "127.0.0.1", kNow), 0, kNow));
    EXPECT_TRUE(sessionTable.empty());
    EXPECT_EQ(AddSessionResult::Stored, addSession(record("t1", "127.0.0.1", kNow), 0, kNow));
    ASSERT_EQ(sessionTable.size(), 1u);
    EXPECT_EQ(sessionTable[0].token, "t1");
}

TEST_F(Sessions, EveryLoginGetsItsOwnRecordInOrder) {
    EXPECT_EQ(AddSessionResult::Stored, addSession(record("a", "127.0.0.1", kNow), 0, kNow));
    EXPECT_EQ(AddSessionResult::Stored,
              addSession(record("b", "127.0.0.1", kNow + 1), 0, kNow + 1));
    ASSERT_EQ(sessionTable.size(), 2u);
    EXPECT_EQ(sessionTable[0].token, "a");
    EXPECT_EQ(sessionTable[1].token, "b");
    EXPECT_EQ(findSession("127.0.0.1", "a"), 0);
    EXPECT_EQ(findSession("127.0.0.1", "b"), 1);
}

TEST_F(Sessions, AddingPrunesExpiredRecordsFirst) {
    sessionTable.push_back(record("old", "127.0.0.1", kNow - kSessionLifetimeSeconds - 1));
    sessionTable.push_back(record("edge", "127.0.0.2", kNow - kSessionLifetimeSeconds));
    EXPECT_EQ(AddSessionResult::Stored, addSession(record("new", "127.0.0.3", kNow), 0, kNow));
    ASSERT_EQ(sessionTable.size(), 2u);
    EXPECT_EQ(sessionTable[0].token, "edge"); // valid while now <= createdAt + 86400
    EXPECT_EQ(sessionTable[1].token, "new");
}

TEST_F(Sessions, CapDropsTheOldest) {
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(AddSessionResult::Stored,
                  addSession(record("t" + std::to_string(i), "127.0.0.1", kNow + i), 3, kNow + i));
    ASSERT_EQ(sessionTable.size(), 3u);
    EXPECT_EQ(sessionTable[0].token, "t2");
    EXPECT_EQ(sessionTable[2].token, "t4");
}

TEST_F(Sessions, LoginFloodOfOneUserCannotEvictAnotherUsersSession) {
    ASSERT_EQ(AddSessionResult::Stored,
              addSession(record("admin-token", "127.0.0.1", kNow), 3, kNow));
    for (int i = 0; i < 5; ++i) {
        const AddSessionResult r =
            addSession(record("r" + std::to_string(i), "127.0.0.2", kNow + i, kAdmin, "", "reader"),
                       3, kNow + i);
        EXPECT_EQ(r, AddSessionResult::Stored) << i; // the reader's own oldest makes room
    }
    EXPECT_EQ(findSession("127.0.0.1", "admin-token"), 0);
    // A user with no session of its own finds the table full.
    EXPECT_EQ(AddSessionResult::Full,
              addSession(record("x", "127.0.0.3", kNow, kAdmin, "", "third"), 3, kNow));
    EXPECT_EQ(AddSessionResult::Full,
              addSession(record("y", "127.0.0.3", kNow, kAdmin, "", ""), 3, kNow));
    EXPECT_EQ(sessionTable.size(), 3u);
    EXPECT_EQ(sessionTable[0].token, "admin-token");
}

TEST_F(Sessions, RevokingAUserEndsAllItsSessionsButTheKeptOne) {
    sessionTable.push_back(record("a1", "127.0.0.1", kNow, kAdmin, "", "alice"));
    sessionTable.push_back(record("b1", "127.0.0.1", kNow, kAdmin, "", "bob"));
    sessionTable.push_back(record("a2", "127.0.0.2", kNow, kAdmin, "", "alice"));
    EXPECT_EQ(removeSessionsOfUser("alice", "a2"), 1);
    EXPECT_EQ(findSession("127.0.0.2", "a2"), 1);
    EXPECT_EQ(removeSessionsOfUser("alice"), 1);
    EXPECT_EQ(removeSessionsOfUser(""), 0);
    ASSERT_EQ(sessionTable.size(), 1u);
    EXPECT_EQ(sessionTable[0].token, "b1");
}

TEST_F(Sessions, AnAccountIsOneAccountInAnyLetterCase) {
    const char info[] = "{\"Data\":{\"UserName\":\"mallory\"}}";
    EXPECT_EQ(sessionAccountName(info, "MALLORY"), "mallory");
    EXPECT_EQ(sessionAccountName("{}", "MALLORY"), "MALLORY");
    sessionTable.push_back(record("m1", "127.0.0.1", kNow, kAdmin, "", "MALLORY"));
    sessionTable.push_back(record("m2", "127.0.0.1", kNow, kAdmin, "", "Mallory"));
    EXPECT_EQ(removeSessionsOfUser("mallory"), 2);
}

TEST_F(Sessions, ALoginThatRacedARevocationIsRefused) {
    const uint64_t before = accountGeneration("MALLORY");
    removeSessionsOfUser("mallory"); // the account changed while the login was checked
    SessionAdmission admission;
    admission.loginName = "MALLORY";
    admission.generation = before;
    EXPECT_EQ(
        AddSessionResult::Revoked,
        addSession(record("t", "127.0.0.1", kNow, kAdmin, "", "mallory"), 0, kNow, admission));
    admission.generation = accountGeneration("Mallory");
    EXPECT_EQ(
        AddSessionResult::Stored,
        addSession(record("t", "127.0.0.1", kNow, kAdmin, "", "mallory"), 0, kNow, admission));
}

TEST_F(Sessions, OneAccountCannotFillTheTableAndTheAdministratorAlwaysGetsIn) {
    SessionAdmission admission;
    admission.perAccount = 2;
    std::vector<SessionRecord> evicted;
    admission.evicted = &evicted;
    for (int i = 0; i < 4; ++i)
        addSession(record("r" + std::to_string(i), "127.0.0.2", kNow, kAdmin, "", "reader"), 3,
                   kNow, admission);
    ASSERT_EQ(sessionTable.size(), 2u); // the reader's own oldest made room
    EXPECT_EQ(sessionTable[0].token, "r2");
    ASSERT_EQ(evicted.size(), 2u);
    EXPECT_EQ(evicted[0].token, "r0");
    addSession(record("o", "127.0.0.3", kNow, kAdmin, "", "other"), 3, kNow, admission);
    SessionRecord admin = record("a", "127.0.0.1", kNow, kAdmin, "", "admin");
    admin.privileges = privilege::All;
    EXPECT_EQ(AddSessionResult::Stored, addSession(admin, 3, kNow, admission));
    EXPECT_EQ(findSession("127.0.0.2", "r2"), -1) << "the oldest non-administrator made room";
    admin.token = "b";
    admin.userName = "root";
    sessionTable[0].privileges = sessionTable[1].privileges = privilege::All;
    EXPECT_EQ(AddSessionResult::Full, addSession(admin, 3, kNow, admission));
}

TEST_F(Sessions, DefaultCapWhenNotConfigured) {
    for (int maximum : {0, -5}) {
        sessionTable.clear();
        for (int i = 0; i < kDefaultMaximumSessions + 10; ++i)
            addSession(record("t" + std::to_string(i), "127.0.0.1", kNow), maximum, kNow);
        ASSERT_EQ(sessionTable.size(), static_cast<size_t>(kDefaultMaximumSessions));
        EXPECT_EQ(sessionTable.front().token, "t10");
        EXPECT_EQ(sessionTable.back().token, "t" + std::to_string(kDefaultMaximumSessions + 9));
    }
}

TEST_F(Sessions, FindNeedsAddressAndTokenBoth) {
    sessionTable.push_back(record("secret", "127.0.0.1", kNow));
    EXPECT_EQ(findSession("127.0.0.1", "secret"), 0);
    EXPECT_EQ(findSession("127.0.0.2", "secret"), -1);
    EXPECT_EQ(findSession("127.0.0.1", "secre"), -1);
    EXPECT_EQ(findSession("127.0.0.1", "secret2"), -1);
    EXPECT_EQ(findSession("127.0.0.1", "SECRET"), -1);
    EXPECT_EQ(findSession("127.0.0.1", ""), -1);
    EXPECT_EQ(findSession("127.0.0.10", "secret"), -1);
    EXPECT_EQ(findSession("", "secret"), -1);
}

TEST_F(Sessions, AnEmptyTokenNeverMatchesEvenAnEmptyRecord) {
    sessionTable.push_back(record("", "127.0.0.1", kNow));
    EXPECT_EQ(findSession("127.0.0.1", ""), -1);
    EXPECT_FALSE(authorizeSession("127.0.0.1", "", kNow));
}

TEST_F(Sessions, ConstantTimeEquality) {
    EXPECT_TRUE(constantTimeEquals("", ""));
    EXPECT_TRUE(constantTimeEquals("abc", "abc"));
    EXPECT_FALSE(constantTimeEquals("abc", "abd"));
    EXPECT_FALSE(constantTimeEquals("abc", "ab"));
    EXPECT_FALSE(constantTimeEquals("ab", "abc"));
    EXPECT_FALSE(constantTimeEquals("", "a"));
    EXPECT_FALSE(constantTimeEquals(std::string("a\0b", 3), std::string("a\0c", 3)));
    EXPECT_FALSE(constantTimeEquals(std::string("a\0", 2), "a"));
}

TEST_F(Sessions, RemoveByLocationIgnoresCaseAndTrailingSlash) {
    sessionTable.push_back(
        record("a", "127.0.0.1", kNow, kAdmin, "/redfish/v1/SessionService/Sessions/1"));
    sessionTable.push_back(
        record("b", "127.0.0.1", kNow, kAdmin, "/redfish/v1/SessionService/Sessions/2/"));
    sessionTable.push_back(
        record("c", "127.0.0.1", kNow, kAdmin, "/redfish/v1/SessionService/Sessions/12"));
    sessionTable.push_back(record("d", "127.0.0.1", kNow, kAdmin, ""));

    EXPECT_EQ(removeSessionsByLocation("/redfish/v1/SessionService/Sessions"), 0);
    EXPECT_EQ(removeSessionsByLocation(""), 0);
    EXPECT_EQ(removeSessionsByLocation("/REDFISH/v1/sessionservice/sessions/1/"), 1);
    EXPECT_EQ(removeSessionsByLocation("/redfish/v1/SessionService/Sessions/2"), 1);
    ASSERT_EQ(sessionTable.size(), 2u);
    EXPECT_EQ(sessionTable[0].token, "c");
    EXPECT_EQ(sessionTable[1].token, "d");
}

TEST_F(Sessions, PruneRemovesOnlyExpired) {
    sessionTable.push_back(record("a", "1", kNow - kSessionLifetimeSeconds - 1));
    sessionTable.push_back(record("b", "1", kNow));
    sessionTable.push_back(record("c", "1", kNow - 2 * kSessionLifetimeSeconds));
    EXPECT_EQ(pruneExpiredSessions(kNow), 2);
    ASSERT_EQ(sessionTable.size(), 1u);
    EXPECT_EQ(sessionTable[0].token, "b");
}

// --- Authorisation ---------------------------------------------------------

class Authorisation : public Sessions {};

TEST_F(Authorisation, LiveSessionWithItsTokenFromItsAddress) {
    sessionTable.push_back(record("tok", "127.0.0.1", kNow));
    EXPECT_TRUE(authorizeSession("127.0.0.1", "tok", kNow));
    EXPECT_FALSE(authorizeSession("127.0.0.1", "", kNow)) << "token missing";
    EXPECT_FALSE(authorizeSession("127.0.0.1", "other", kNow)) << "wrong token";
    EXPECT_FALSE(authorizeSession("127.0.0.2", "tok", kNow)) << "other address";
    EXPECT_FALSE(authorizeSession("::1", "tok", kNow)) << "other address";
}

TEST_F(Authorisation, ValidForOneDayThenRemovedByTheFirstRequest) {
    sessionTable.push_back(record("other", "127.0.0.1", kNow));
    sessionTable.push_back(record("tok", "127.0.0.1", kNow));
    EXPECT_TRUE(authorizeSession("127.0.0.1", "tok", kNow + kSessionLifetimeSeconds));
    EXPECT_EQ(sessionTable.size(), 2u);
    EXPECT_FALSE(authorizeSession("127.0.0.1", "tok", kNow + kSessionLifetimeSeconds + 1));
    ASSERT_EQ(sessionTable.size(), 1u) << "the expired record is removed";
    EXPECT_EQ(sessionTable[0].token, "other");
    // A later request of the same token stays refused even at an earlier clock.
    EXPECT_FALSE(authorizeSession("127.0.0.1", "tok", kNow));
}

TEST_F(Authorisation, IdleTimeOutCountsFromTheLatestRequestWithinTheLifetime) {
    setSessionIdleTimeout(60);
    sessionTable.push_back(record("tok", "127.0.0.1", kNow));
    const std::pair<int64_t, bool> requests[] = {
        {60, true}, {120, true}, {181, false}, {120, false}}; // seconds after the login
    for (const auto& [after, live] : requests)
        EXPECT_EQ(authorizeSession("127.0.0.1", "tok", kNow + after), live) << after;
    EXPECT_TRUE(sessionTable.empty());
    sessionTable.push_back(record("busy", "127.0.0.1", kNow));
    for (int64_t after = 50; after <= kSessionLifetimeSeconds; after += 50)
        EXPECT_TRUE(authorizeSession("127.0.0.1", "busy", kNow + after)) << after;
    EXPECT_FALSE(authorizeSession("127.0.0.1", "busy", kNow + kSessionLifetimeSeconds + 1));
    setSessionIdleTimeout(0);
}

TEST_F(Authorisation, ReadOnlyRoleRefusedInAnyCase) {
    for (const char* role : {"/redfish/v1/AccountService/Roles/ReadOnlyUser",
                             "/REDFISH/V1/ACCOUNTSERVICE/ROLES/READONLYUSER",
                             "/redfish/v1/accountservice/roles/readonlyuser"}) {
        sessionTable.clear();
        sessionTable.push_back(record("tok", "127.0.0.1", kNow,
                                      std::string("{\"Role\":\"") + role +
                                          "\",\"OSPrivilegeLevel\":\"Administrator\"}"));
        EXPECT_FALSE(authorizeSession("127.0.0.1", "tok", kNow)) << role;
        EXPECT_EQ(sessionTable.size(), 1u) << "a refused role does not end the session";
    }
}

TEST_F(Authorisation, OsUserRefusedWithoutAUsablePrivilegeLevel) {
    const std::pair<const char*, bool> cases[] = {
        {"undefined", false},
        {"UNDEFINED", false},
        {"ReadOnlyUser", false},
        {"readonlyuser", false},
        {"Administrator", true},
        {"Operator", true},
        {"", true},
        {"undefined2", true},
        {"ReadOnly", true},
    };
    for (const auto& c : cases) {
        for (const char* role : {"/redfish/v1/AccountService/Roles/OSUser",
                                 "/Redfish/V1/AccountService/Roles/osuser"}) {
            sessionTable.clear();
            sessionTable.push_back(record("tok", "127.0.0.1", kNow,
                                          std::string("{\"Role\":\"") + role +
                                              "\",\"OSPrivilegeLevel\":\"" + c.first + "\"}"));
            EXPECT_EQ(authorizeSession("127.0.0.1", "tok", kNow), c.second)
                << role << " / " << c.first;
        }
    }
    // The privilege level of other roles plays no part.
    sessionTable.clear();
    sessionTable.push_back(record("tok", "127.0.0.1", kNow,
                                  "{\"Role\":\"/redfish/v1/AccountService/Roles/Operator\","
                                  "\"OSPrivilegeLevel\":\"undefined\"}"));
    EXPECT_TRUE(authorizeSession("127.0.0.1", "tok", kNow));
}

TEST_F(Authorisation, SessionDataMustBeAnObjectWithBothMembers) {
    const char* infos[] = {
        "",
        "not json",
        "[\"Role\",\"OSPrivilegeLevel\"]",
        "{\"Role\":\"/redfish/v1/AccountService/Roles/Administrator\"}",
        "{\"OSPrivilegeLevel\":\"Administrator\"}",
        "{\"role\":\"/redfish/v1/AccountService/Roles/Administrator\","
        "\"osprivilegelevel\":\"Administrator\"}",
    };
    for (const char* info : infos) {
        sessionTable.clear();
        sessionTable.push_back(record("tok", "127.0.0.1", kNow, info));
        EXPECT_FALSE(authorizeSession("127.0.0.1", "tok", kNow)) << info;
    }
    // Values of any JSON type are taken as text.
    sessionTable.clear();
    sessionTable.push_back(
        record("tok", "127.0.0.1", kNow, "{\"Role\":7,\"OSPrivilegeLevel\":null}"));
    EXPECT_TRUE(authorizeSession("127.0.0.1", "tok", kNow));
}

TEST_F(Authorisation, FirstMatchingRecordDecides) {
    // Two logins of different users from one address: each token has its own rights.
    sessionTable.push_back(record("admin", "127.0.0.1", kNow));
    sessionTable.push_back(record("reader", "127.0.0.1", kNow,
                                  "{\"Role\":\"/redfish/v1/AccountService/Roles/ReadOnlyUser\","
                                  "\"OSPrivilegeLevel\":\"x\"}"));
    EXPECT_TRUE(authorizeSession("127.0.0.1", "admin", kNow));
    EXPECT_FALSE(authorizeSession("127.0.0.1", "reader", kNow));
}

TEST(PresentedToken, HeaderFirstThenCookie) {
    EXPECT_EQ(presentedToken("abc", nullptr), "abc");
    EXPECT_EQ(presentedToken("abc", "sessionId=zzz"), "abc");
    EXPECT_EQ(presentedToken("", "sessionId=zzz"), "zzz");
    EXPECT_EQ(presentedToken(nullptr, "sessionId=zzz"), "zzz");
    EXPECT_EQ(presentedToken(nullptr, "sessionId =zzz"), "zzz");
    EXPECT_EQ(presentedToken(nullptr, "sessionId = zzz"), "zzz");
    EXPECT_EQ(presentedToken(nullptr, "a=1; sessionId=zzz; b=2"), "zzz");
    EXPECT_EQ(presentedToken(nullptr, "a=1;sessionId =zzz"), "zzz");
    EXPECT_EQ(presentedToken(nullptr, "xsessionId=zzz"), "");
    EXPECT_EQ(presentedToken(nullptr, "sessionid=zzz"), "");
    EXPECT_EQ(presentedToken(nullptr, "other=zzz"), "");
    EXPECT_EQ(presentedToken(nullptr, ""), "");
    EXPECT_EQ(presentedToken(nullptr, nullptr), "");
    EXPECT_EQ(presentedToken(nullptr, "sessionId="), "");
}

} // namespace
