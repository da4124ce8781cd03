#include <gtest/gtest.h>

#include <iterator>
#include <string>

#include "jsonadapter.h"

namespace {

std::string nested(int depth, const std::string& open, const std::string& close) {
    std::string text;
    for (int i = 0; i < depth; ++i)
        text += open;
    text += "1";
    for (int i = 0; i < depth; ++i)
        text += close;
    return text;
}

// The top-level object counts as the first level.
std::string objectOfDepth(int depth) {
    std::string text = "{\"k\":";
    for (int i = 1; i < depth; ++i)
        text += "{\"k\":";
    text += "1";
    for (int i = 0; i < depth; ++i)
        text += "}";
    return text;
}

json::Value parsed(const std::string& text) {
    json::Value v;
    EXPECT_TRUE(json::parseObject(text, v)) << text;
    return v;
}

void expectRejected(const std::string& text) {
    json::Value v = json::Value::object();
    EXPECT_FALSE(json::parseObject(text, v)) << text;
    EXPECT_TRUE(v.is_null()) << text;
}

} // namespace

TEST(JsonParse, AcceptsOneObjectAndKeepsMemberOrder) {
    json::Value v =
        parsed("{\"zeta\": 1, \"alpha\": [true, null], \"mid\": {\"b\": \"x\", \"a\": 2}}");
    EXPECT_EQ(json::dump(v), "{\"zeta\":1,\"alpha\":[true,null],\"mid\":{\"b\":\"x\",\"a\":2}}");
}

TEST(JsonParse, RejectsEverythingThatIsNotAnObject) {
    for (const char* text :
         {"", "   ", "[1,2]", "1", "\"text\"", "null", "true", "}", "{", "{\"a\":1", "{\"a\":1,}",
          "{\"a\"}", "{a:1}", "{\"a\":\"open}", "{'a':1}", "{\"a\":01}", "x{\"a\":1}"})
        expectRejected(text);
}

TEST(JsonParse, AcceptsCommentsBetweenTokens) {
    json::Value v = parsed("// leading line comment\n/* block */ {\"a\" /* after name */ : "
                           "// before value\n 5 /* after value */, \"b\":/**/[1,/*x*/2]}");
    EXPECT_EQ(json::dump(v), "{\"a\":5,\"b\":[1,2]}");
}

TEST(JsonParse, CommentMarkersInsideStringsAreText) {
    json::Value v = parsed("{\"url\":\"http://host/*x*/\"}");
    EXPECT_EQ(json::memberText(v, "url"), "http://host/*x*/");
}

TEST(JsonParse, RejectsUnterminatedBlockComment) {
    expectRejected("{\"a\":1 /* never closed }");
    expectRejected("/* never closed {\"a\":1}");
}

TEST(JsonParse, IgnoresWhateverFollowsTheClosingBrace) {
    EXPECT_EQ(json::dump(parsed("{\"a\":1} trailing garbage {[")), "{\"a\":1}");
    EXPECT_EQ(json::dump(parsed("{\"a\":1}}}")), "{\"a\":1}");
    EXPECT_EQ(json::dump(parsed("{\"a\":1}{\"b\":2}")), "{\"a\":1}");
    // Deep nesting after the object is never looked at.
    EXPECT_EQ(json::dump(parsed("{\"a\":1}" + nested(80, "[", "]"))), "{\"a\":1}");
}

TEST(JsonParse, BracesInsideStringsDoNotEndTheObject) {
    json::Value v = parsed("{\"a\":\"x\\\"}{\",\"b\":\"]]]}\"}");
    EXPECT_EQ(json::memberText(v, "a"), "x\"}{");
    EXPECT_EQ(json::memberText(v, "b"), "]]]}");
}

TEST(JsonParse, NestingLimitIsFiftyLevels) {
    json::Value v;
    EXPECT_TRUE(json::parseObject(objectOfDepth(50), v));
    expectRejected(objectOfDepth(51));
    // Arrays count as levels too: the object plus 49 arrays is the limit.
    EXPECT_TRUE(json::parseObject("{\"a\":" + nested(49, "[", "]") + "}", v));
    expectRejected("{\"a\":" + nested(50, "[", "]") + "}");
    // A deep member anywhere spoils the whole text.
    expectRejected("{\"good\":1,\"deep\":" + nested(60, "[", "]") + ",\"late\":2}");
    // Brackets inside strings are no nesting.
    EXPECT_TRUE(json::parseObject("{\"s\":\"" + std::string(200, '[') + "\"}", v));
}

// An object of `count` members "k0".."k<count-1>" (all named "k" when not
// `distinct`).
static std::string manyMembers(int count, bool distinct = true) {
    std::string text = "{";
    for (int i = 0; i < count; ++i)
        text +=
            (i ? ",\"k" : "\"k") + (distinct ? std::to_string(i) : "") + "\":" + std::to_string(i);
    return text + "}";
}

TEST(JsonParse, RepeatedNameKeepsFirstPositionWithLastValue) {
    json::Value v = parsed("{\"a\":1,\"b\":2,\"a\":3}");
    EXPECT_EQ(json::dump(v), "{\"a\":3,\"b\":2}");
    v = parsed("{\"a\":{\"x\":1},\"b\":2,\"a\":\"text\"}");
    EXPECT_EQ(json::dump(v), "{\"a\":\"text\",\"b\":2}");
    // The same in a large object, where names are found through an index.
    std::string text = manyMembers(5000);
    text.insert(text.size() - 1, ",\"k2500\":\"last\",\"k0\":{\"a\":1,\"a\":2}");
    v = parsed(text);
    ASSERT_EQ(v.size(), 5000u);
    EXPECT_EQ(v.begin().key(), "k0");
    EXPECT_EQ(json::dump(v.front()), "{\"a\":2}");
    EXPECT_EQ(std::next(v.begin(), 2500).key(), "k2500");
    EXPECT_EQ(json::asText(v["k2500"]), "last");
    EXPECT_EQ(std::prev(v.end()).key(), "k4999");
}

TEST(JsonParse, MemberFloodPastTenThousandIsRefused) {
    std::string longArray = "{\"list\":[0";
    for (int i = 1; i < 20000; ++i)
        longArray += ",0";
    longArray += "]}";
    struct Case {
        std::string text;
        bool accepted;
    } cases[] = {
        {manyMembers(10000), true},
        {manyMembers(10001), false},
        {"{\"outer\":" + manyMembers(10000) + "}", true},
        {"{\"outer\":" + manyMembers(10001) + "}", false},
        {"{\"list\":[" + manyMembers(10001) + "]}", false},
        // Members as written count, repeated names too: the work is bounded.
        {manyMembers(10001, false), false},
        // Array elements are no members.
        {longArray, true},
    };
    for (const Case& c : cases) {
        json::Value v;
        EXPECT_EQ(json::parseObject(c.text, v), c.accepted) << c.text.substr(0, 40);
        EXPECT_EQ(v.is_null(), !c.accepted);
    }
}

TEST(JsonParse, NamesAreCaseSensitive) {
    json::Value v = parsed("{\"Key\":1,\"key\":2}");
    EXPECT_EQ(json::asInteger(v["Key"]), 1);
    EXPECT_EQ(json::asInteger(v["key"]), 2);
    EXPECT_FALSE(json::hasMember(v, "KEY"));
}

TEST(JsonParse, FailureLeavesLiteralsEmpty) {
    json::NumberLiterals literals{{"stale", "1"}};
    json::Value v;
    EXPECT_FALSE(json::parseObject("{\"a\":1.5", v, &literals));
    EXPECT_TRUE(literals.empty());
}

TEST(JsonParse, RecordsLiteralsOfTopLevelFractionNumbersOnly) {
    json::NumberLiterals literals;
    json::Value v;
    ASSERT_TRUE(json::parseObject(
        "{\"f\":1.50,\"e\":1e3,\"i\":7,\"s\":\"2.5\",\"n\":{\"inner\":2.5},\"a\":[3.5]}", v,
        &literals));
    json::NumberLiterals expected{{"f", "1.50"}, {"e", "1e3"}};
    EXPECT_EQ(literals, expected);
}

TEST(JsonParse, LiteralFollowsTheLastValueOfARepeatedName) {
    json::NumberLiterals literals;
    json::Value v;
    ASSERT_TRUE(json::parseObject("{\"a\":1.5,\"a\":\"x\",\"b\":\"y\",\"b\":2.25}", v, &literals));
    json::NumberLiterals expected{{"b", "2.25"}};
    EXPECT_EQ(literals, expected);
    ASSERT_TRUE(json::parseObject("{\"a\":1.5,\"a\":{\"z\":9.5}}", v, &literals));
    EXPECT_TRUE(literals.empty());
}

TEST(JsonDump, IsCompact) {
    json::Value v = parsed("{ \"a\" : [ 1 , 2 ] ,\n \"b\" : { \"c\" : \"d e\" } }");
    EXPECT_EQ(json::dump(v), "{\"a\":[1,2],\"b\":{\"c\":\"d e\"}}");
}

TEST(JsonDump, ReplacesInvalidUtf8InsteadOfThrowing) {
    json::Value v = json::Value::object();
    v["s"] = std::string("a\xff", 2);
    EXPECT_EQ(json::dump(v), "{\"s\":\"a\xEF\xBF\xBD\"}");
}

TEST(JsonText, StringsGiveTheirCharactersOthersTheirJson) {
    json::Value v = parsed("{\"s\":\"a\\\"b\",\"i\":-12,\"t\":true,\"f\":false,\"n\":null,"
                           "\"o\":{\"x\": [1, \"y\"]},\"arr\":[ ]}");
    EXPECT_EQ(json::memberText(v, "s"), "a\"b");
    EXPECT_EQ(json::memberText(v, "i"), "-12");
    EXPECT_EQ(json::memberText(v, "t"), "true");
    EXPECT_EQ(json::memberText(v, "f"), "false");
    EXPECT_EQ(json::memberText(v, "n"), "null");
    EXPECT_EQ(json::memberText(v, "o"), "{\"x\":[1,\"y\"]}");
    EXPECT_EQ(json::memberText(v, "arr"), "[]");
    EXPECT_EQ(json::memberText(v, "missing"), "");
    EXPECT_EQ(json::memberText(json::Value::array({1}), "s"), "");
    EXPECT_EQ(json::memberText(json::Value(), "s"), "");
}

TEST(JsonInteger, ConversionTable) {
    struct Case {
        const char* member;
        int64_t expected;
    } cases[] = {
        {"0", 0},           {"42", 42},          {"-42", -42},
        {"1.9", 1},         {"-1.9", -1},        {"0.99", 0},
        {"true", 1},        {"false", 0},        {"null", 0},
        {"\"true\"", 1},    {"\"TRUE\"", 0},     {"\"false\"", 0},
        {"\"yes\"", 0},     {"\"8443\"", 8443},  {"\"8443abc\"", 8443},
        {"\"abc8443\"", 0}, {"\" \\t 17\"", 17}, {"\"-5x\"", -5},
        {"\"+6\"", 6},      {"\"\"", 0},         {"\"1.9\"", 1},
        {"\"- 5\"", 0},     {"[7]", 0},          {"{\"a\":7}", 0},
    };
    for (const Case& c : cases) {
        json::Value v = parsed(std::string("{\"v\":") + c.member + "}");
        EXPECT_EQ(json::asInteger64(v["v"]), c.expected) << c.member;
    }
}

TEST(JsonInteger, WideValues) {
    EXPECT_EQ(json::asInteger64(parsed("{\"v\":9223372036854775807}")["v"]),
              INT64_C(9223372036854775807));
    EXPECT_EQ(json::asInteger64(parsed("{\"v\":18446744073709551615}")["v"]),
              INT64_C(9223372036854775807));
    EXPECT_EQ(json::asInteger64(parsed("{\"v\":\"-99999999999999999999999\"}")["v"]), INT64_MIN);
    EXPECT_EQ(json::leadingInteger("99999999999999999999999"), INT64_MAX);
    EXPECT_EQ(json::leadingInteger("  -12ab"), -12);
    EXPECT_EQ(json::leadingInteger(""), 0);
    // 32-bit narrowing wraps for callers that want a plain int.
    EXPECT_EQ(json::asInteger(parsed("{\"v\":4294967297}")["v"]), 1);
    EXPECT_EQ(json::asInteger(parsed("{\"v\":200}")["v"]), 200);
}

TEST(JsonInteger, ConfigurationRange) {
    auto conv = [](const std::string& member) {
        json::NumberLiterals literals;
        json::Value v;
        EXPECT_TRUE(json::parseObject("{\"v\":" + member + "}", v, &literals)) << member;
        auto it = literals.find("v");
        return json::asConfigInteger(v["v"], it == literals.end() ? nullptr : &it->second);
    };
    EXPECT_EQ(conv("2147483647"), 2147483647);
    EXPECT_EQ(conv("-2147483648"), INT32_MIN);
    EXPECT_EQ(conv("2147483648"), std::nullopt);
    EXPECT_EQ(conv("-2147483649"), std::nullopt);
    EXPECT_EQ(conv("\"99999999999\""), std::nullopt);
    EXPECT_EQ(conv("[1]"), std::nullopt);
    EXPECT_EQ(conv("{}"), std::nullopt);
    EXPECT_EQ(conv("null"), 0);
    EXPECT_EQ(conv("true"), 1);
    // Fraction and exponent numbers give the integer of their leading digits.
    EXPECT_EQ(conv("1.9"), 1);
    EXPECT_EQ(conv("-1.9"), -1);
    EXPECT_EQ(conv("1e3"), 1);
    EXPECT_EQ(conv("8.443E3"), 8);
    EXPECT_EQ(conv("5e-1"), 5);
    EXPECT_EQ(conv("-25e1"), -25);
    EXPECT_EQ(conv("1234567890123456789012.5"), std::nullopt);
}
