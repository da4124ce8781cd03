// The reply conversion reads replies in printed form without building a
// document. Whatever road it takes, status and body must be the ones the
// envelope rules give (known answers below), and the quick road must answer
// exactly as the full one does for the same reply.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "compactreply.h"
#include "jsonadapter.h"
#include "redfishserverhandler.h"

namespace {

struct Converted {
    int32_t status;
    std::string body;
};

Converted converted(const std::string& reply) {
    std::string body = "left over";
    const int32_t status = convertPluginReply(reply.c_str(), body);
    return {status, body};
}

bool quick(const std::string& reply) {
    CompactReply ignored;
    return readCompactReply(reply, ignored);
}

// A leading blank is valid JSON but never the printed form: the same reply
// with one goes the full road, whichever road the reply itself takes.
void expectBothRoadsAgree(const std::string& reply) {
    const std::string full = " " + reply;
    EXPECT_FALSE(quick(full)) << full;
    const Converted got = converted(reply);
    const Converted want = converted(full);
    EXPECT_EQ(got.status, want.status) << reply;
    EXPECT_EQ(got.body, want.body) << reply;
}

TEST(PerfReplyConversion, KnownRepliesGiveTheirStatusAndBody) {
    struct Known {
        const char* reply;
        int32_t status;
        const char* body;
    };
    const Known known[] = {
        {R"({"HttpStatus":404,"Data":{"error":"none"}})", 404, R"({"error":"none"})"},
        {R"({"HttpStatus":"201","Data":[1,2]})", 201, "[1,2]"},
        {R"({"HttpStatus":204})", 204, "Data is NULL"},
        {R"({"Data":{"x":1}})", 500, "{}"},
        {"", 500, "root parse failed"},
        {R"([{"HttpStatus":200}])", 500, "root parse failed"},
        {R"({"HttpStatus":200,"Data":tru})", 500, "root parse failed"},
        {R"({"HttpStatus":99,"Data":null})", 500, "null"},
        {R"({"HttpStatus":600,"Data":1})", 500, "1"},
        {R"({"HttpStatus":200,"Data":{"a": 1, "b" :[ true ]}})", 200, R"({"a":1,"b":[true]})"},
        {R"({"HttpStatus":200,"Data":{"k":"v"}} trailing text is ignored)", 200, R"({"k":"v"})"},
        {R"({"HttpStatus":201,"Data":"plain \"quoted\" \\ text\nline\ttab/"})", 201,
         "plain \"quoted\" \\ text\nline\ttab/"},
        {R"({"HttpStatus":200,"Data":"\u0041\u00e9\/"})", 200, "A\xc3\xa9/"},
        {R"({"HttpStatus":429,"Data":123456789012345678})", 429, "123456789012345678"},
    };
    for (const Known& k : known) {
        for (const std::string& reply : {std::string(k.reply), " " + std::string(k.reply)}) {
            const Converted got = converted(reply);
            EXPECT_EQ(got.status, k.status) << reply;
            EXPECT_EQ(got.body, k.body) << reply;
        }
    }
}

TEST(PerfReplyConversion, PrintedRepliesTakeTheQuickRoad) {
    const std::vector<std::string> replies = {
        R"({"HttpStatus":200,"Data":{"Id":"1","Name":"x","Members":[{"@odata.id":"/a"}],"N":-12}})",
        R"({"Data":{"a":[1,2,[true,false,null],{}],"b":[]},"HttpStatus":404})",
        R"({"HttpStatus":201,"Data":"plain \"quoted\" \\ text\nline\ttab\r\b\f/"})",
        R"({"HttpStatus":204})",
        R"({"Data":{"x":1}})",
        R"({})",
        R"({"HttpStatus":429,"Data":123456789012345678})",
        R"({"HttpStatus":99,"Data":null})",
        R"({"HttpStatus":-200,"Data":false,"Extra":{"Deep":[[[]]]}})",
        R"({"HttpStatus":200,"Data":{"k":"v"}} trailing text is ignored)",
        R"({"HttpStatus":200,"Data":""})",
        R"({"HttpStatus":200,"Data":{"":"","a":{"a":{"a":1}}}})",
    };
    for (const std::string& reply : replies) {
        EXPECT_TRUE(quick(reply)) << reply;
        expectBothRoadsAgree(reply);
    }
}

TEST(PerfReplyConversion, OtherFormsTakeTheFullRoad) {
    const std::vector<std::string> replies = {
        "",
        " {\"HttpStatus\":200,\"Data\":1}",
        R"({"HttpStatus" : 200,"Data":1})",
        R"({"HttpStatus":200,"Data":{"a": 1}})",
        R"({"HttpStatus":200,"Data":1.0})",
        R"({"HttpStatus":200,"Data":[1.50,2e3,-0.0]})",
        R"({"HttpStatus":200,"Data":-0})",
        R"({"HttpStatus":200,"Data":[-0]})",
        R"({"HttpStatus":200,"Data":01})",
        R"({"HttpStatus":200,"Data":1234567890123456789})",
        R"({"HttpStatus":200,"Data":123456789012345678901234567890})",
        R"({"HttpStatus":200,"Data":"\u0041\u00e9\/"})",
        R"({"HttpStatus":200,"Data":{"k":"\u001f"}})",
        "{\"HttpStatus\":200,\"Data\":\"caf\xc3\xa9\"}",
        "{\"HttpStatus\":200,\"Data\":\"bad \xff byte\"}",
        "{\"HttpStatus\":200,\"Data\":\"raw\ttab\"}",
        "{\"HttpStatus\":200,\"Data\":\"del\x7f\"}",
        R"({"HttpStatus":200,"Data":{"a":1,"a":2}})",
        R"({"HttpStatus":200,"Data":{"a":1,"b":{"a":3},"a":2}})",
        R"({"HttpStatus":200,"HttpStatus":404,"Data":1})",
        R"({"HttpStatus":200,"Data":1,"Data":"second"})",
        R"({"HttpStatus":"201","Data":[1,2]})",
        R"({"HttpStatus":"abc","Data":[1,2]})",
        R"({"HttpStatus":201.9,"Data":[1,2]})",
        R"({"HttpStatus":true,"Data":[1,2]})",
        R"({"HttpStatus":null,"Data":[1,2]})",
        R"({"HttpStatus":200,/*c*/"Data":1})",
        R"({"HttpStatus":200,"Data":[1,2,]})",
        R"({"HttpStatus":200,"Data":{"a":1,}})",
        R"({"HttpStatus":200,"Data":tru})",
        R"({"HttpStatus":200,"Data":"unterminated})",
        R"({"HttpStatus":200,"Data":"bad escape \x"})",
        R"({"HttpStatus":200,"Data":{"a":1})",
        R"([{"HttpStatus":200}])",
        R"("text")",
        R"({"HttpStatus":200,"Data":-})",
        R"({"HttpStatus":200,"Data":1e5})",
    };
    for (const std::string& reply : replies)
        EXPECT_FALSE(quick(reply)) << reply;
}

std::string nested(int containers) {
    std::string open, close;
    for (int i = 0; i < containers; ++i) {
        open += i % 2 ? "[" : "{\"n\":";
        close.insert(0, i % 2 ? "]" : "}");
    }
    return open + "1" + close;
}

TEST(PerfReplyConversion, NestingPastFiftyIsRefusedOnBothRoads) {
    // The envelope counts as the first container: 49 more are allowed.
    for (int inner : {48, 49, 50, 51}) {
        const std::string reply = "{\"HttpStatus\":200,\"Data\":" + nested(inner) + "}";
        EXPECT_EQ(quick(reply), inner <= 49) << inner;
        const std::string want = inner <= 49 ? nested(inner) : "root parse failed";
        EXPECT_EQ(converted(reply).body, want) << inner;
        EXPECT_EQ(converted(" " + reply).body, want) << inner;
    }
}

TEST(PerfReplyConversion, ManyMembersAndRepeatsFarApart) {
    // Up to 256 members an object is read quickly; a name repeated far from
    // its first use is not the printed form.
    for (int members : {250, 300}) {
        std::string data = "{";
        for (int i = 0; i < members; ++i)
            data += (i ? ",\"m" : "\"m") + std::to_string(i) + "\":" + std::to_string(i);
        const std::string plain = "{\"HttpStatus\":200,\"Data\":" + data + "}}";
        EXPECT_EQ(quick(plain), members <= 256) << members;
        expectBothRoadsAgree(plain);
        EXPECT_FALSE(quick("{\"HttpStatus\":200,\"Data\":" + data + ",\"m7\":0}}"));
        EXPECT_FALSE(quick("{\"HttpStatus\":200,\"Data\":[" + data + "}," + data + ",\"m0\":1}]}"));
    }
}

// Random documents printed by the library (the quick road's form) and
// printed with random deviations (the full road's): the quick road, when it
// takes one, answers as the full road does.
class RandomReplies {
  public:
    explicit RandomReplies(unsigned seed) : rng_(seed) {}

    std::string reply(bool deviate) {
        deviate_ = deviate;
        std::string out = "{";
        std::vector<std::string> members;
        if (pick(10) != 0)
            members.push_back("\"HttpStatus\":" + status());
        if (pick(10) != 0)
            members.push_back("\"Data\":" + value(1));
        if (pick(3) == 0)
            members.push_back("\"Other\":" + value(1));
        std::shuffle(members.begin(), members.end(), rng_);
        for (size_t i = 0; i < members.size(); ++i)
            out += (i ? "," : "") + members[i];
        return out + "}";
    }

  private:
    unsigned pick(unsigned n) { return std::uniform_int_distribution<unsigned>(0, n - 1)(rng_); }
    bool rarely() { return deviate_ && pick(12) == 0; }

    std::string status() {
        static const char* const kStatuses[] = {"200",     "201",   "404",  "0",    "600", "-1",
                                                "\"202\"", "204.5", "true", "null", "99",  "599"};
        return kStatuses[pick(deviate_ ? 12 : 6)];
    }

    std::string text() {
        static const char* const kPieces[] = {"a",   "Id",        "x y", "\\\"", "\\\\",
                                              "\\n", "\\t",       "\\b", "\\f",  "\\r",
                                              "/",   "@odata.id", "0"};
        static const char* const kOdd[] = {"\\u0041", "\\/",  "\xc3\xa9",
                                           "\\u00e9", "\x7f", "\\ud83d\\ude00"};
        std::string s = "\"";
        const unsigned n = pick(5);
        for (unsigned i = 0; i < n; ++i)
            s += rarely() ? kOdd[pick(6)] : kPieces[pick(13)];
        return s + "\"";
    }

    std::string number() {
        if (rarely()) {
            static const char* const kOdd[] = {
                "1.0", "-0", "2e3", "1234567890123456789", "0.5", "-0.0", "100000000000000000000"};
            return kOdd[pick(7)];
        }
        const long long magnitude[] = {0, 7, 42, 65535, 123456789012345678LL};
        long long v = magnitude[pick(5)];
        return std::to_string(pick(2) && v ? -v : v);
    }

    std::string gap() { return rarely() ? " " : ""; }

    std::string value(int depth) {
        const unsigned kind = depth > 6 ? pick(4) : pick(7);
        switch (kind) {
        case 0:
            return text();
        case 1:
            return number();
        case 2: {
            static const char* const kWords[] = {"true", "false", "null"};
            return kWords[pick(3)];
        }
        case 3:
            return pick(2) ? "{}" : "[]";
        case 4:
        case 5: {
            std::string out = "{" + gap();
            const unsigned n = pick(5);
            static const char* const kNames[] = {"\"a\"", "\"b\"", "\"Id\"", "\"Members\"",
                                                 "\"c d\""};
            std::vector<unsigned> order = {0, 1, 2, 3, 4};
            std::shuffle(order.begin(), order.end(), rng_);
            for (unsigned i = 0; i < n; ++i) {
                // A repeated name is a deviation from the printed form.
                const unsigned name = rarely() ? order[0] : order[i];
                out += std::string(i ? "," : "") + kNames[name] + gap() + ":" + value(depth + 1);
            }
            return out + "}";
        }
        default: {
            std::string out = "[";
            const unsigned n = pick(4);
            for (unsigned i = 0; i < n; ++i)
                out += (i ? "," : "") + gap() + value(depth + 1);
            return out + "]";
        }
        }
    }

    std::mt19937 rng_;
    bool deviate_ = false;
};

TEST(PerfReplyConversion, RandomRepliesGetTheSameAnswerOnBothRoads) {
    RandomReplies replies(20261207);
    int quickCount = 0;
    int fullCount = 0;
    for (int i = 0; i < 4000; ++i) {
        const std::string reply = replies.reply(i % 2 == 1);
        quick(reply) ? ++quickCount : ++fullCount;
        expectBothRoadsAgree(reply);
        if (HasFailure())
            break;
    }
    // Both roads were taken often enough to mean something.
    EXPECT_GT(quickCount, 1000);
    EXPECT_GT(fullCount, 200);
}

TEST(PerfReplyConversion, LibraryPrintedDocumentsAreReadQuickly) {
    // What the bundled plug-in sends: documents printed by the library.
    json::Value doc = json::Value::object();
    doc["@odata.id"] = "/redfish/v1/Systems";
    doc["Members@odata.count"] = 2;
    doc["Members"] = json::Value::array();
    doc["Members"].push_back({{"@odata.id", "/redfish/v1/Systems/1"}});
    doc["Description"] = "Line one\nline \"two\"\t\\ end";
    doc["Empty"] = json::Value::object();
    json::Value reply = json::Value::object();
    reply["HttpStatus"] = 200;
    reply["Data"] = doc;
    const std::string text = json::dump(reply);
    ASSERT_TRUE(quick(text)) << text;
    EXPECT_EQ(converted(text).body, json::dump(doc));
}

TEST(PerfReplyConversion, UnescapingKeepsPlainRunsAndResolvesEachEscape) {
    std::string out = "pre:";
    appendUnescaped(R"(a\"b\\c\nd\te\rf\bg\fh/)", out);
    EXPECT_EQ(out, "pre:a\"b\\c\nd\te\rf\bg\fh/");
    out.clear();
    appendUnescaped("", out);
    EXPECT_EQ(out, "");
}

} // namespace
