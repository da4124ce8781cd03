#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <vector>

#include "loadoptions.h"

using bench::LoadOptions;
using bench::parseLoadOptions;
using bench::RequestKind;

namespace {

bench::ParseOutcome parse(std::vector<const char*> args, LoadOptions& options) {
    args.insert(args.begin(), "tolvaneload");
    return parseLoadOptions(static_cast<int>(args.size()), args.data(), options);
}

} // namespace

TEST(LoadOptions, DefaultsNeedOnlyAPort) {
    LoadOptions options;
    auto outcome = parse({"--port", "8443"}, options);
    ASSERT_TRUE(outcome.ok) << outcome.error;
    EXPECT_EQ(options.port, 8443);
    EXPECT_EQ(options.host, "127.0.0.1");
    EXPECT_FALSE(options.tls);
    EXPECT_FALSE(options.resumeSessions);
    EXPECT_TRUE(options.tickets);
    EXPECT_EQ(options.clients, 16);
    EXPECT_DOUBLE_EQ(options.durationSeconds, 3.0);
    ASSERT_EQ(options.mix.size(), 1u);
    EXPECT_EQ(options.mix[0].first, RequestKind::ServiceRoot);
}

TEST(LoadOptions, ReadsEveryKindOfFlag) {
    LoadOptions options;
    auto outcome = parse({"--port=9000",
                          "--tls",
                          "--resume",
                          "--no-tickets",
                          "--tls-version",
                          "1.2",
                          "--clients",
                          "64",
                          "--duration",
                          "1.5",
                          "--warmup",
                          "0.5",
                          "--mix",
                          "root=3,get,login=0,patch=2",
                          "--expect",
                          "patch=4xx,get=5",
                          "--get-uri",
                          "/redfish/v1/Chassis",
                          "--upload-size",
                          "10",
                          "--user",
                          "ops",
                          "--password",
                          "p\"w",
                          "--server-pid",
                          "42",
                          "--kv",
                          "--label",
                          "x"},
                         options);
    ASSERT_TRUE(outcome.ok) << outcome.error;
    EXPECT_EQ(options.port, 9000);
    EXPECT_TRUE(options.tls);
    EXPECT_TRUE(options.resumeSessions);
    EXPECT_FALSE(options.tickets);
    EXPECT_EQ(options.tlsVersion, "1.2");
    EXPECT_EQ(options.clients, 64);
    EXPECT_DOUBLE_EQ(options.durationSeconds, 1.5);
    EXPECT_DOUBLE_EQ(options.warmupSeconds, 0.5);
    // A zero weight drops the kind.
    std::vector<std::pair<RequestKind, int>> mix = {
        {RequestKind::ServiceRoot, 3}, {RequestKind::PluginGet, 1}, {RequestKind::Patch, 2}};
    EXPECT_EQ(options.mix, mix);
    EXPECT_EQ(options.expectClass[static_cast<int>(RequestKind::Patch)], 4);
    EXPECT_EQ(options.expectClass[static_cast<int>(RequestKind::PluginGet)], 5);
    EXPECT_EQ(options.expectClass[static_cast<int>(RequestKind::Login)], 2);
    EXPECT_EQ(options.getUri, "/redfish/v1/Chassis");
    EXPECT_EQ(options.uploadSize, 10u);
    EXPECT_EQ(options.user, "ops");
    EXPECT_EQ(options.password, "p\"w");
    EXPECT_EQ(options.serverPid, 42);
    EXPECT_TRUE(options.keyValue);
    EXPECT_EQ(options.label, "x");
}

TEST(LoadOptions, RejectsBadInputWithAClearMessage) {
    struct Case {
        std::vector<const char*> args;
        const char* message;
    };
    const Case cases[] = {
        {{}, "--port is required"},
        {{"--port", "0"}, "bad --port"},
        {{"--port", "70000"}, "bad --port"},
        {{"--port", "80x"}, "bad --port"},
        {{"--port", "80", "--clients", "0"}, "bad --clients"},
        {{"--port", "80", "--duration", "0"}, "bad --duration"},
        {{"--port", "80", "--duration", "-1"}, "bad --duration"},
        {{"--port", "80", "--mix", "root,delete"}, "unknown request kind \"delete\""},
        {{"--port", "80", "--mix", "root=0"}, "no request kind"},
        {{"--port", "80", "--mix", "root=-1"}, "bad weight"},
        {{"--port", "80", "--expect", "patch=6"}, "bad status class"},
        {{"--port", "80", "--expect", "patch"}, "bad --expect item"},
        {{"--port", "80", "--tls-version", "1.1"}, "bad --tls-version"},
        {{"--port", "80", "--get-uri", "redfish"}, "must start with /"},
        {{"--port", "80", "--patch-uri", "/a b"}, "must start with /"},
        {{"--port", "80", "--password-file", "/nonexistent/pw"}, "cannot read --password-file"},
        {{"--port", "80", "--frobnicate", "1"}, "unknown option --frobnicate"},
        {{"--port"}, "needs a value"},
    };
    for (const Case& c : cases) {
        LoadOptions options;
        auto outcome = parse(c.args, options);
        EXPECT_FALSE(outcome.ok) << c.message;
        EXPECT_NE(outcome.error.find(c.message), std::string::npos)
            << "got \"" << outcome.error << "\", wanted \"" << c.message << "\"";
    }
}

TEST(LoadOptions, HelpWinsAndDescribesEveryKind) {
    LoadOptions options;
    auto outcome = parse({"--help"}, options);
    EXPECT_TRUE(outcome.help);
    std::string help = bench::loadHelpText();
    for (const char* word : {"root", "get", "login", "patch", "upload", "--resume", "--server-pid",
                             "malformed", "handshake"})
        EXPECT_NE(help.find(word), std::string::npos) << word;
}

TEST(LoadOptions, PasswordFileGivesItsFirstLineWithoutTheLineEnd) {
    char path[] = "/tmp/tolvaneload-pw-XXXXXX";
    int fd = ::mkstemp(path);
    ASSERT_GE(fd, 0);
    ::close(fd);
    {
        std::ofstream out(path);
        out << "s3cret pass\r\nsecond line\n";
    }
    LoadOptions options;
    auto outcome = parse({"--port", "1", "--password-file", path}, options);
    std::remove(path);
    ASSERT_TRUE(outcome.ok) << outcome.error;
    EXPECT_EQ(options.password, "s3cret pass");
}

TEST(LoadOptions, KindNamesRoundTrip) {
    for (int i = 0; i < bench::kRequestKindCount; ++i) {
        RequestKind kind;
        ASSERT_TRUE(
            bench::parseRequestKind(bench::requestKindName(static_cast<RequestKind>(i)), kind));
        EXPECT_EQ(static_cast<int>(kind), i);
    }
    RequestKind kind;
    EXPECT_FALSE(bench::parseRequestKind("ROOT", kind));
    EXPECT_TRUE(bench::kindNeedsToken(RequestKind::PluginGet));
    EXPECT_TRUE(bench::kindNeedsToken(RequestKind::Patch));
    EXPECT_TRUE(bench::kindNeedsToken(RequestKind::Upload));
    EXPECT_FALSE(bench::kindNeedsToken(RequestKind::ServiceRoot));
    EXPECT_FALSE(bench::kindNeedsToken(RequestKind::Login));
}
