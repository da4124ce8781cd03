// Log lines formatted without the C library's printf must read exactly as
// printf would write them; other formats are left to printf.
#include <gtest/gtest.h>

#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <string>

#include "lineformat.h"

namespace {

using tolvane::logservice::formatLine;
using tolvane::logservice::formatPlainLine;

std::string viaLine(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string out = "kept:";
    formatLine(out, format, args);
    va_end(args);
    return out;
}

std::string viaPrintf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(nullptr, 0, format, args);
    std::string out(static_cast<size_t>(n) + 1, '\0');
    std::vsnprintf(&out[0], out.size(), format, copy);
    out.resize(static_cast<size_t>(n));
    va_end(copy);
    va_end(args);
    return "kept:" + out;
}

bool plain(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string out = "unchanged";
    const bool done = formatPlainLine(out, format, args);
    va_end(args);
    if (!done) {
        EXPECT_EQ(out, "unchanged") << format;
    }
    return done;
}

#define EXPECT_LIKE_PRINTF(...) EXPECT_EQ(viaLine(__VA_ARGS__), viaPrintf(__VA_ARGS__))

TEST(PerfLineFormat, ServerLinesReadAsPrintfWritesThem) {
    const char* const prefix = "%s:%s:%s:%s()::[%s]";
    const std::string entry = std::string(prefix) + "Entry";
    EXPECT_LIKE_PRINTF(entry.c_str(), "REDFISHSERVER", "getredfishhandler.cpp", "93",
                       "RedfishServerHandler::handleGet", "DEBUG");
    const std::string method = std::string(prefix) + "Method = %s\n";
    EXPECT_LIKE_PRINTF(method.c_str(), "REDFISHSERVER", "a.cpp", "1", "F", "DEBUG", "GET");
    const std::string big(5000, 'r');
    const std::string reply = std::string(prefix) + " Plugin Response:  %s";
    EXPECT_LIKE_PRINTF(reply.c_str(), "REDFISHSERVER", "a.cpp", "1", "F", "ERROR", big.c_str());
    EXPECT_TRUE(plain(reply.c_str(), "a", "b", "c", "d", "e", "f"));
}

TEST(PerfLineFormat, IntegersOfEveryLengthAndTheirLimits) {
    EXPECT_LIKE_PRINTF("%d %i %d %d", 0, -1, INT_MIN, INT_MAX);
    EXPECT_LIKE_PRINTF("%u %u", 0u, UINT_MAX);
    EXPECT_LIKE_PRINTF("%ld %li %lu", LONG_MIN, LONG_MAX, ULONG_MAX);
    EXPECT_LIKE_PRINTF("%lld %lli %llu", LLONG_MIN, LLONG_MAX, ULLONG_MAX);
    EXPECT_LIKE_PRINTF("%zu %zd %zu", SIZE_MAX, static_cast<std::ptrdiff_t>(-5), size_t{7});
    EXPECT_LIKE_PRINTF("%jd %ju", INTMAX_MIN, UINTMAX_MAX);
    // Narrow lengths convert the promoted argument back.
    EXPECT_LIKE_PRINTF("%hd %hu %hhd %hhu", 70000, 70000, 300, 300);
    EXPECT_LIKE_PRINTF("%hd %hhd", -32769, -129);
    EXPECT_TRUE(plain("%lld %hhu %zu %ju", 1LL, 2, size_t{3}, UINTMAX_MAX));
}

TEST(PerfLineFormat, CharactersPercentSignsAndMissingStrings) {
    EXPECT_LIKE_PRINTF("%c%c%c", 'a', ' ', '%');
    EXPECT_LIKE_PRINTF("100%% done, %%d stays");
    const char* none = nullptr;
    EXPECT_LIKE_PRINTF("[%s]", none);
    EXPECT_LIKE_PRINTF("");
    EXPECT_LIKE_PRINTF("no conversions at all\r\n");
    EXPECT_LIKE_PRINTF("%s%s%s", "", "", "");
    // A zero character is kept, as printf counts and writes it.
    EXPECT_EQ(viaLine("a%cb", 0), std::string("kept:a\0b", 8));
}

TEST(PerfLineFormat, OtherConversionsAreLeftToPrintf) {
    for (const char* format : {"%5d", "%-3s|", "%.2s", "%x",  "%08X", "%f",         "%5.1f", "%p",
                               "%+d", "% d",   "%ls",  "%lc", "%hs",  "%zx",        "%lf",   "%e",
                               "%g",  "%o",    "%n%d", "%*d", "%'d",  "trailing %", "%"}) {
        EXPECT_FALSE(plain(format, 1, 2)) << format;
    }
    EXPECT_LIKE_PRINTF("%5d|%-4s|%.2s|%x|%5.1f", 42, "ab", "xyz", 255u, 2.25);
    EXPECT_LIKE_PRINTF("%s then %08X", "mixed", 0xBEEFu);
    const std::string long1(3000, 'w');
    EXPECT_LIKE_PRINTF("%4s %s", "x", long1.c_str());
}

} // namespace
