// Text, file and coding functions the program exports for plug-ins.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <sys/stat.h>

#include "civetweb_ext.h"
#include "hostkit.h"

TEST(TextFunctions, StrcasecmpFoldsAsciiLettersOnly) {
    EXPECT_EQ(mg_strcasecmp("Content-Type", "content-TYPE"), 0);
    EXPECT_EQ(mg_strcasecmp("", ""), 0);
    // Difference of the first differing folded characters.
    EXPECT_EQ(mg_strcasecmp("abc", "abd"), 'c' - 'd');
    EXPECT_EQ(mg_strcasecmp("ABD", "abc"), 'd' - 'c');
    EXPECT_EQ(mg_strcasecmp("ab", "abc"), 0 - 'c');
    EXPECT_EQ(mg_strcasecmp("abc", "ab"), 'c');
    EXPECT_NE(mg_strcasecmp("a-b", "a_b"), 0);
}

TEST(TextFunctions, StrncasecmpComparesAtMostCount) {
    EXPECT_EQ(mg_strncasecmp("Redfish", "REDFOX", 4), 0);
    EXPECT_EQ(mg_strncasecmp("Redfish", "REDFOX", 5), 'i' - 'o');
    EXPECT_EQ(mg_strncasecmp("abc", "xyz", 0), 0);
    EXPECT_EQ(mg_strncasecmp("ab", "AB", 10), 0);
    EXPECT_EQ(mg_strncasecmp("ab", "abc", 10), 0 - 'c');
}

TEST(TextFunctions, StrcasestrFindsFirstPlaceIgnoringCase) {
    const char* text = "multipart/form-data; boundary=MULTIPART/FORM-DATA";
    EXPECT_EQ(mg_strcasestr(text, "MULTIPART/FORM-DATA"), text);
    const char* later = "application/json; x=Multipart/Form-Data";
    EXPECT_EQ(mg_strcasestr(later, "multipart/form-data"), later + 20);
    EXPECT_EQ(mg_strcasestr("application/json", "multipart/form-data"), nullptr);
    EXPECT_EQ(mg_strcasestr("short", "much longer text"), nullptr);
    // An empty part matches at the start, also of an empty text.
    const char* any = "abc";
    EXPECT_EQ(mg_strcasestr(any, ""), any);
    const char* empty = "";
    EXPECT_EQ(mg_strcasestr(empty, ""), empty);
    // The last possible place is searched too.
    const char* tail = "xxAB";
    EXPECT_EQ(mg_strcasestr(tail, "ab"), tail + 2);
}

TEST(FileFunctions, RemoveDeletesAFileAndReportsFailure) {
    const std::string dir = ts::makeTempDir("tolvane-httplayer");
    const std::string path = dir + "/upload ü.bin";
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("data", f);
    std::fclose(f);

    EXPECT_EQ(mg_remove(nullptr, path.c_str()), 0);
    struct stat st;
    EXPECT_NE(stat(path.c_str(), &st), 0) << "file still exists";
    // Removing again, or a missing path, fails with -1.
    EXPECT_EQ(mg_remove(nullptr, path.c_str()), -1);
    EXPECT_EQ(mg_remove(nullptr, (dir + "/missing/x").c_str()), -1);
    hostkit::removeTree(dir);
}

namespace {
std::string encode(const std::string& in) {
    size_t len = ((in.size() + 2) / 3) * 4 + 1;
    std::string out(len, '\xff');
    int r = mg_base64_encode(reinterpret_cast<const unsigned char*>(in.data()), in.size(), &out[0],
                             &len);
    EXPECT_EQ(r, -1);
    EXPECT_EQ(len, out.size()) << "length counts the terminator";
    EXPECT_EQ(out.back(), '\0');
    out.pop_back();
    return out;
}
} // namespace

TEST(Base64, EncodesWithPaddingAndCountsTheTerminator) {
    EXPECT_EQ(encode(""), "");
    EXPECT_EQ(encode("f"), "Zg==");
    EXPECT_EQ(encode("fo"), "Zm8=");
    EXPECT_EQ(encode("foo"), "Zm9v");
    EXPECT_EQ(encode("foob"), "Zm9vYg==");
    EXPECT_EQ(encode(std::string("\x00\xff\xfe", 3)), "AP/+");
    EXPECT_EQ(encode("admin:P@ssw0rd"), "YWRtaW46UEBzc3cwcmQ=");
}

TEST(Base64, EncodeReportsTheRoomNeeded) {
    const unsigned char src[] = {'a', 'b', 'c', 'd'};
    char dst[8];
    dst[0] = 'x';
    size_t len = sizeof(dst); // 9 needed
    EXPECT_EQ(mg_base64_encode(src, sizeof(src), dst, &len), 0);
    EXPECT_EQ(len, 9u);
    EXPECT_EQ(dst[0], '\0');
    // No length given: the caller vouches for the room.
    char big[16];
    EXPECT_EQ(mg_base64_encode(src, sizeof(src), big, nullptr), -1);
    EXPECT_STREQ(big, "YWJjZA==");
}

TEST(Base64, DecodesAndCountsTheTerminator) {
    unsigned char dst[32];
    size_t len = sizeof(dst);
    ASSERT_EQ(mg_base64_decode("YWRtaW46UEBzc3cwcmQ=", 20, dst, &len), -1);
    EXPECT_EQ(len, 15u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(dst), len - 1), "admin:P@ssw0rd");
    EXPECT_EQ(dst[14], '\0');

    len = sizeof(dst);
    ASSERT_EQ(mg_base64_decode("AP/+", 4, dst, &len), -1);
    EXPECT_EQ(len, 4u);
    EXPECT_EQ(dst[0], 0x00);
    EXPECT_EQ(dst[1], 0xff);
    EXPECT_EQ(dst[2], 0xfe);

    len = sizeof(dst);
    ASSERT_EQ(mg_base64_decode("", 0, dst, &len), -1);
    EXPECT_EQ(len, 1u);
    EXPECT_EQ(dst[0], '\0');
}

TEST(Base64, DecodeNamesTheFirstInvalidCharacter) {
    unsigned char dst[32];
    size_t len = sizeof(dst);
    EXPECT_EQ(mg_base64_decode("Zm9v*mFy", 8, dst, &len), 4);
    len = sizeof(dst);
    EXPECT_EQ(mg_base64_decode("Zm9vY!==", 8, dst, &len), 5);
    len = sizeof(dst);
    EXPECT_EQ(mg_base64_decode("Zm9vYm!y", 8, dst, &len), 6);
    len = sizeof(dst);
    EXPECT_EQ(mg_base64_decode("Zm9vYmF.", 8, dst, &len), 7);
    // Padding may not stand in the first two places of a group.
    len = sizeof(dst);
    EXPECT_EQ(mg_base64_decode("=AAA", 4, dst, &len), 0);
    len = sizeof(dst);
    EXPECT_EQ(mg_base64_decode("A=AA", 4, dst, &len), 1);
    // A truncated group is invalid where its text ends.
    len = sizeof(dst);
    EXPECT_EQ(mg_base64_decode("Zm9vYg", 6, dst, &len), 6);
}

TEST(Base64, DecodeReportsTheRoomNeededWithoutOverrun) {
    unsigned char dst[8];
    std::fill(std::begin(dst), std::end(dst), 0xAA);
    size_t len = 3; // "Zm9vYmFy" needs 6 bytes + terminator
    EXPECT_EQ(mg_base64_decode("Zm9vYmFy", 8, dst, &len), 0);
    EXPECT_EQ(len, 7u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(dst), 3), "foo");
    EXPECT_EQ(dst[3], 0xAA) << "wrote past the room given";
}
