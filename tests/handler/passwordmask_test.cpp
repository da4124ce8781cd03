// Passwords in request bodies never reach the trace file.
#include <gtest/gtest.h>

#include <string>

#include "passwordmask.h"

namespace {

TEST(PasswordMask, TopLevelMemberInAnyLetterCase) {
    EXPECT_EQ(maskPasswords("{\"UserName\":\"admin\",\"Password\":\"s3cret\"}"),
              "{\"UserName\":\"admin\",\"Password\":\"******\"}");
    EXPECT_EQ(maskPasswords("{\"password\":\"a\"}"), "{\"password\":\"******\"}");
    EXPECT_EQ(maskPasswords("{\"PASSWORD\":\"a\"}"), "{\"PASSWORD\":\"******\"}");
    EXPECT_EQ(maskPasswords("{\"PassWord\":\"a\"}"), "{\"PassWord\":\"******\"}");
}

TEST(PasswordMask, AnyDepthAndInsideArrays) {
    EXPECT_EQ(maskPasswords("{\"a\":{\"b\":[{\"Password\":\"x\"},{\"c\":{\"password\":\"y\"}}]}}"),
              "{\"a\":{\"b\":[{\"Password\":\"******\"},{\"c\":{\"password\":\"******\"}}]}}");
    EXPECT_EQ(maskPasswords("[{\"Password\":\"x\"}]"), "[{\"Password\":\"******\"}]");
}

TEST(PasswordMask, ValuesOfEveryTypeAreReplaced) {
    EXPECT_EQ(maskPasswords("{\"Password\":12345,\"n\":1}"), "{\"Password\":\"******\",\"n\":1}");
    EXPECT_EQ(maskPasswords("{\"Password\":null}"), "{\"Password\":\"******\"}");
    EXPECT_EQ(maskPasswords("{\"Password\":{\"a\":\"}\",\"b\":[1]},\"n\":2}"),
              "{\"Password\":\"******\",\"n\":2}");
    EXPECT_EQ(maskPasswords("{\"Password\":[\"x\",\"]\"]}"), "{\"Password\":\"******\"}");
    EXPECT_EQ(maskPasswords("{\"Password\":\"with \\\"quote\\\" and \\\\\"}"),
              "{\"Password\":\"******\"}");
}

TEST(PasswordMask, LayoutIsKept) {
    const std::string body = "{\n  \"UserName\" : \"admin\",\n  \"Password\" : \"s3cret\"\n}\n";
    EXPECT_EQ(maskPasswords(body),
              "{\n  \"UserName\" : \"admin\",\n  \"Password\" : \"******\"\n}\n");
}

TEST(PasswordMask, EscapedKeyNamesAreRecognised) {
    const std::string masked = maskPasswords("{\"Pass\\u0077ord\":\"s3cret\"}");
    EXPECT_EQ(masked.find("s3cret"), std::string::npos) << masked;
    EXPECT_NE(masked.find("******"), std::string::npos) << masked;
}

TEST(PasswordMask, OnlyMembersNamedPasswordAreTouched) {
    for (const char* body :
         {"{\"UserName\":\"Password\"}", "{\"OldPassword\":\"x\"}", "{\"Passwords\":\"x\"}",
          "{\"a\":[\"Password\",\"x\"]}", "{\"HttpStatus\":200}", "{}", "[]"}) {
        EXPECT_EQ(maskPasswords(body), body);
    }
}

TEST(PasswordMask, NonJsonBodiesWithoutPasswordsAreWrittenAsTheyAre) {
    for (const char* body : {"plain text\nwith lines", "", "{\"a\":1,}", "\"User\":\"x\""})
        EXPECT_EQ(maskPasswords(body), body);
}

TEST(PasswordMask, BodiesThatDoNotParseStillHaveTheirPasswordMasked) {
    const std::string whole = "******";
    struct Case {
        std::string body;
        std::string masked;
    } cases[] = {
        {"{\"Password\":\"hunter2\",}", "{\"Password\":\"******\",}"},
        {"{\"UserName\":\"a\",\"Password\":\"hunter2\xff\"}",
         "{\"UserName\":\"a\",\"Password\":\"******\"}"},
        {"{\"Password\":\"hunter2", "{\"Password\":\"******\""},
        {"{\"pAssWord\" : hunter2 }", "{\"pAssWord\" : \"******\" }"},
        {"{'Password':'hunter2'}", "{'Password':\"******\"}"},
        {"{\"Pass\\u0077ord\":\"hunter2\",}", "{\"Pass\\u0077ord\":\"******\",}"},
        {"[{\"Password\":[\"hunter2\"]},", "[{\"Password\":\"******\"},"},
        {"\"Password\":\"hunter2\"", "\"Password\":\"******\""},
        {"{\"Password\":{\"a\":[\"hunter2\"", "{\"Password\":\"******\""},
        // Where the value's end is unsure, or the word stands where no member
        // could be found, the whole body is masked.
        {"{\"Password\": hunter2 more}", whole},
        {"Password=hunter2&User=a", whole},
        {"{Password:\"hunter2\"}", whole},
        {"{\"a\":1} Password=hunter2", whole},
        {"{\"Password\"\n", whole},
    };
    for (const Case& c : cases)
        EXPECT_EQ(maskPasswords(c.body), c.masked) << c.body;
}

TEST(PasswordMask, DeepNestingNextToAPasswordDoesNotCrash) {
    const std::string head = "{\"Password\":\"hunter2\",\"a\":";
    for (size_t depth : {size_t{30000}, size_t{300000}}) {
        const std::string open(depth, '[');
        for (const std::string& body : {head + open, head + open + std::string(depth, ']') + "}"}) {
            const std::string masked = maskPasswords(body);
            EXPECT_EQ(masked.find("hunter2"), std::string::npos) << depth;
        }
    }
}

TEST(PasswordMask, CommentsAndTrailingTextAsTheServerReadsThem) {
    // The server's JSON reader accepts comments and ignores text after the
    // object, so such bodies are JSON too and get masked.
    EXPECT_EQ(maskPasswords("{/* \"x\" */\"Password\":\"a\" // \"b\"\n}"),
              "{/* \"x\" */\"Password\":\"******\" // \"b\"\n}");
    EXPECT_EQ(maskPasswords("{\"Password\":\"a\"} trailing"), "{\"Password\":\"******\"} trailing");
}

TEST(PasswordMask, DuplicateMembersAllMasked) {
    const std::string masked = maskPasswords("{\"Password\":\"one\",\"password\":\"two\"}");
    EXPECT_EQ(masked, "{\"Password\":\"******\",\"password\":\"******\"}");
}

} // namespace
