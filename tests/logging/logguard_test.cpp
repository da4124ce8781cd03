// What a client can make the server write: request text clipped, refused
// requests and failed logins limited per address, the audit kept apart.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "logging/audit.h"
#include "logging/linebudget.h"
#include "logging/logclip.h"
#include "tracefixture.h"

TEST(LogClip, LongUriCannotBloatALogLineOrSplitACharacter) {
    const std::string e = "\xc3\xa9", euro = "\xe2\x82\xac", smile = "\xf0\x9f\x98\x80";
    const std::string a256(256, 'a');
    struct Row {
        std::string text, kept;
        size_t cut;
    } rows[] = {
        {a256, a256, 0},
        {std::string(7168, 'a'), a256, 6912},
        {a256.substr(1) + e, a256.substr(1), 2},
        {a256.substr(2) + e + "b", a256.substr(2) + e, 1},
        {a256.substr(2) + euro, a256.substr(2), 3},
        {a256.substr(3) + smile, a256.substr(3), 4},
        {a256.substr(4) + smile + "c", a256.substr(4) + smile, 1},
        {std::string(300, '\x80'), std::string(256, '\x80'), 44}, // no UTF-8 to keep whole
    };
    for (const Row& row : rows) {
        const std::string expected =
            row.cut ? row.kept + "...[cut " + std::to_string(row.cut) + " bytes]" : row.kept;
        EXPECT_EQ(logtext::clipped(row.text), expected) << row.text.size();
        EXPECT_STREQ(logtext::Clipped(row.text).c_str(), expected.c_str());
    }
}

TEST(LineBudget, AddressFloodLeavesAFewLinesAndTheCountOfTheRest) {
    logtext::LineBudget budget(2, 3, 60, 2); // 2 per key, 3 in all, 2 keys tracked
    struct Step {
        const char* key;
        int64_t now;
        bool write;
        uint64_t suppressed, others;
    } steps[] = {
        {"a", 0, true, 0, 0},  {"a", 1, true, 0, 0},  {"a", 2, false, 0, 0},
        {"a", 3, false, 0, 0}, {"b", 4, true, 0, 0},  {"b", 5, false, 0, 0}, // all 3 used
        {"c", 6, false, 0, 0},                                               // table full
        {"a", 60, true, 2, 1}, {"c", 64, true, 0, 1}, // b's window over: b goes, its count too
    };
    for (const Step& s : steps) {
        const logtext::LineBudget::Verdict v = budget.admit(s.key, s.now);
        EXPECT_EQ(v.write, s.write) << s.key << s.now;
        EXPECT_EQ(v.suppressed, s.suppressed) << s.key << s.now;
        EXPECT_EQ(v.suppressedOthers, s.others) << s.key << s.now;
    }
}

TEST_F(TraceFile, FailedLoginsFromRotatingAddressesCannotRollTheAudit) {
    auditRecord(AuditEvent::Login, "10.0.0.1", "admin", 201);
    for (int i = 0; i < 20000; ++i)
        auditRecord(AuditEvent::BasicLogin,
                    "10.1." + std::to_string(i / 200) + "." + std::to_string(i % 200),
                    "admin\"\n" + std::string(9000, 'x'), 401);
    const std::string audit = ts::readFile(auditFilePath());
    EXPECT_FALSE(exists(auditFilePath() + ".1"));
    EXPECT_NE(audit.find(" address=10.0.0.1 user=\"admin\" event=Login outcome=201 success\n"),
              std::string::npos)
        << audit.substr(0, 300);
    EXPECT_NE(audit.find("user=\"admin\\\"\\nxxx"), std::string::npos);
    EXPECT_LE(std::count(audit.begin(), audit.end(), '\n'), 200);
    EXPECT_LE(audit.size(), 200u * 400);
}
