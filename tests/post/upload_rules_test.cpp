// Stored base names, form fields and the upload argument.
#include <gtest/gtest.h>

#include <string>

#include "uploadrules.h"

TEST(UploadBaseName, LastComponentOfEitherSeparator) {
    EXPECT_EQ(uploadBaseName("C:\\images\\fw\\image.bin"), "image.bin");
    EXPECT_EQ(uploadBaseName("/tmp/images/image.bin"), "image.bin");
    EXPECT_EQ(uploadBaseName("dir/sub\\mixed.bin"), "mixed.bin");
    EXPECT_EQ(uploadBaseName("a\\b/c.bin"), "c.bin");
    EXPECT_EQ(uploadBaseName("plain.bin"), "plain.bin");
    EXPECT_EQ(uploadBaseName("dir/"), "");
    EXPECT_EQ(uploadBaseName("..\\.."), "..");
    EXPECT_EQ(uploadBaseName("x/."), ".");
}

TEST(UploadBaseName, DotNamesAndEmptyNamesAreNoFile) {
    EXPECT_FALSE(isStorableBaseName(""));
    EXPECT_FALSE(isStorableBaseName("."));
    EXPECT_FALSE(isStorableBaseName(".."));
    EXPECT_TRUE(isStorableBaseName("..."));
    EXPECT_TRUE(isStorableBaseName(".hidden"));
    EXPECT_TRUE(isStorableBaseName("fw.bin"));
}

TEST(UploadFileName, OnlyWellFormedUtf8IsAName) {
    const struct {
        const char* text;
        bool valid;
    } cases[] = {
        {"fw.bin", true},
        {"", true},
        {"\xc3\xbc\xe2\x82\xac\xf0\x9f\x98\x80", true}, // 2, 3 and 4 bytes
        {"\xef\xbf\xbd", true},                         // U+FFFD itself
        {"\xf4\x8f\xbf\xbf", true},                     // U+10FFFF
        {"\xff", false},
        {"\x80", false},             // continuation without a lead
        {"\xc0\xaf", false},         // overlong "/"
        {"\xe0\x80\xaf", false},     // overlong "/"
        {"\xed\xa0\x80", false},     // surrogate
        {"\xf4\x90\x80\x80", false}, // past U+10FFFF
        {"\xe2\x82", false},         // cut short
        {"\xe2\x82\x41", false},     // bad continuation
        {"\xf5\x80\x80\x80", false}, // no such lead
    };
    for (const auto& c : cases)
        EXPECT_EQ(isValidUtf8(c.text), c.valid) << testing::PrintToString(std::string(c.text));
}

TEST(FieldConversion, Table) {
    EXPECT_EQ(json::dump(convertFieldValue("true")), "true");
    EXPECT_EQ(json::dump(convertFieldValue("false")), "false");
    EXPECT_EQ(json::dump(convertFieldValue("3")), "3");
    EXPECT_EQ(json::dump(convertFieldValue("abc")), "\"abc\"");
    EXPECT_EQ(json::dump(convertFieldValue("-3")), "\"-3\"");
    EXPECT_EQ(json::dump(convertFieldValue("007")), "7");
    EXPECT_EQ(json::dump(convertFieldValue("3abc")), "3");
    EXPECT_EQ(json::dump(convertFieldValue("12 34")), "12");
    EXPECT_EQ(json::dump(convertFieldValue("True")), "\"True\"");
    EXPECT_EQ(json::dump(convertFieldValue("")), "\"\"");
    EXPECT_EQ(json::dump(convertFieldValue(" 3")), "\" 3\"");
}

TEST(FieldConversion, NumbersOnlyWhenTheyFit32Bits) {
    EXPECT_EQ(json::dump(convertFieldValue("2147483647")), "2147483647");
    EXPECT_EQ(json::dump(convertFieldValue("2147483647x")), "2147483647");
    EXPECT_EQ(json::dump(convertFieldValue("2147483648")), "\"2147483648\"");
    EXPECT_EQ(json::dump(convertFieldValue("99999999999999999999999")),
              "\"99999999999999999999999\"");
    EXPECT_EQ(json::dump(convertFieldValue("4294967299")), "\"4294967299\"");
}

TEST(FormFields, PiecesAreJoined) {
    FormFieldCollector c;
    ASSERT_EQ(c.beginPart("Password"), FormFieldCollector::Result::Continue);
    EXPECT_EQ(c.addPiece("abc", 3), FormFieldCollector::Result::Continue);
    EXPECT_EQ(c.addPiece("", 0), FormFieldCollector::Result::Continue);
    EXPECT_EQ(c.addPiece("def", 3), FormFieldCollector::Result::Continue);
    ASSERT_EQ(c.beginPart("n"), FormFieldCollector::Result::Continue);
    EXPECT_EQ(c.addPiece("1", 1), FormFieldCollector::Result::Continue);
    ASSERT_EQ(c.fields().size(), 2u);
    EXPECT_EQ(c.fields()[0], std::make_pair(std::string("Password"), std::string("abcdef")));
    EXPECT_EQ(c.fields()[1], std::make_pair(std::string("n"), std::string("1")));
}

TEST(FormFields, EmptyValuesAreLeftOutAndEmptyNamesStop) {
    FormFieldCollector c;
    c.beginPart("empty");
    EXPECT_EQ(c.addPiece("", 0), FormFieldCollector::Result::Continue);
    c.beginPart("");
    EXPECT_EQ(c.addPiece("x", 1), FormFieldCollector::Result::Stop);
    EXPECT_TRUE(c.fields().empty());

    FormFieldCollector d;
    d.beginPart("");
    EXPECT_EQ(d.addPiece("", 0), FormFieldCollector::Result::Stop);

    FormFieldCollector e;
    e.beginPart("a");
    EXPECT_EQ(e.addPiece(nullptr, 4), FormFieldCollector::Result::Stop);
}

TEST(FormFields, ValueLimitIs64KiB) {
    FormFieldCollector c;
    c.beginPart("big");
    const std::string half(kMaxFormFieldValueBytes / 2, 'x');
    EXPECT_EQ(c.addPiece(half.data(), half.size()), FormFieldCollector::Result::Continue);
    EXPECT_EQ(c.addPiece(half.data(), half.size()), FormFieldCollector::Result::Continue);
    EXPECT_EQ(c.fields()[0].second.size(), kMaxFormFieldValueBytes);
    EXPECT_EQ(c.addPiece("y", 1), FormFieldCollector::Result::TooLarge);
    EXPECT_EQ(c.fields()[0].second.size(), kMaxFormFieldValueBytes);
}

TEST(FormFields, PartLimitIs256) {
    FormFieldCollector c;
    for (size_t i = 0; i < kMaxFormParts; ++i)
        ASSERT_EQ(c.beginPart("f" + std::to_string(i)), FormFieldCollector::Result::Continue);
    EXPECT_EQ(c.beginPart("one-too-many"), FormFieldCollector::Result::TooLarge);
}

TEST(UploadArgument, FieldsThenPathThenLogFile) {
    FormFields fields = {{"Password", "abc"}, {"Force", "true"}, {"Count", "3"}};
    EXPECT_EQ(buildUploadArgument(fields, "/srv/RedfishServer/uploads/fw.bin", nullptr),
              R"({"Password":"abc","Force":true,"Count":3,)"
              R"("absoluteFilePath":"/srv/RedfishServer/uploads/fw.bin"})");
    const std::string log = "/var/log/tolvane/RestoreConfiguration.log";
    EXPECT_EQ(
        buildUploadArgument({}, "", &log),
        R"({"absoluteFilePath":"","logFilePath":"/var/log/tolvane/RestoreConfiguration.log"})");
}

TEST(UploadArgument, RepeatedNamesReplaceWhereTheyStand) {
    FormFields fields = {{"a", "1"}, {"b", "x"}, {"a", "false"}, {"absoluteFilePath", "/etc/x"}};
    EXPECT_EQ(buildUploadArgument(fields, "/u/f", nullptr),
              R"({"a":false,"b":"x","absoluteFilePath":"/u/f"})");
}

TEST(UploadArgument, LongValuesArePassedWhole) {
    const std::string value(kMaxFormFieldValueBytes, 'v');
    FormFields fields = {{"Blob", value}};
    EXPECT_EQ(buildUploadArgument(fields, "", nullptr),
              "{\"Blob\":\"" + value + "\",\"absoluteFilePath\":\"\"}");
}
