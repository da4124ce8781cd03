// Figures of the parse budget's cost, printed for the reader (a busy machine
// makes any time bound flaky): many distinct member names cost time in
// proportion to their number, and a body of the size of the login flood
// parses and masks in well under a second.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "jsonadapter.h"
#include "passwordmask.h"

namespace {

// An object of `count` distinct members, each `"k<n>":<n>`.
std::string membersObject(size_t count, size_t first = 0) {
    std::string text = "{";
    for (size_t i = first; i < first + count; ++i)
        text += (i == first ? "\"k" : ",\"k") + std::to_string(i) + "\":" + std::to_string(i);
    return text + "}";
}

template <class F> double millisecondsOf(F&& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

} // namespace

TEST(PerfJsonParse, DistinctNamesCostTheSameEachAtEverySize) {
    for (size_t count : {1250u, 2500u, 5000u, 10000u}) {
        const std::string text = membersObject(count);
        json::Value v;
        bool ok = false;
        const double ms = millisecondsOf([&] { ok = json::parseObject(text, v); });
        ASSERT_TRUE(ok);
        EXPECT_EQ(v.size(), count);
        std::printf("parse of %5zu distinct names: %7.2f ms, %6.1f ns a name\n", count, ms,
                    ms * 1e6 / static_cast<double>(count));
    }
}

TEST(PerfJsonParse, MegabyteOfDistinctNamesParsesAndMasks) {
    // 131,000 names in objects of 10,000 (the most one object may hold).
    std::string text = "{\"Password\":\"hunter2\"";
    size_t names = 0;
    for (int part = 0; names < 131000; ++part, names += 10000)
        text += ",\"p" + std::to_string(part) + "\":" + membersObject(10000, names);
    text += "}";
    json::Value v;
    bool ok = false;
    const double parseMs = millisecondsOf([&] { ok = json::parseObject(text, v); });
    ASSERT_TRUE(ok);
    std::string masked;
    const double maskMs = millisecondsOf([&] { masked = maskPasswords(text); });
    EXPECT_EQ(masked.find("hunter2"), std::string::npos);
    std::printf("%zu bytes, %zu names: parse %.1f ms, masking %.1f ms\n", text.size(), names,
                parseMs, maskMs);
}
