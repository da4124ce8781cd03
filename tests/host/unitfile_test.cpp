// The systemd unit written by "install".
#include <gtest/gtest.h>

#include <filesystem>

#include "redfishserver/service.h"
#include "testsupport.h"

namespace {

const char kProgram[] = "/opt/tolvane/RedfishServer/tolvaneredfishserver";

// What a service needs beyond what "install" is seen to write (commandline
// e2e: ExecStart, Type, Restart, WantedBy): its order and hardening.
TEST(UnitFile, ServiceIsHardened) {
    const std::string text = systemdUnitText(kProgram, "/opt/tolvane/", "/var/log/tolvane/");
    for (const char* line : {"After=network.target", "NoNewPrivileges=yes", "ProtectSystem=strict",
                             "ReadWritePaths=\"/opt/tolvane/\" \"-/var/log/tolvane/\"",
                             "ProtectHome=yes", "PrivateTmp=yes", "ProtectKernelTunables=yes",
                             "ProtectControlGroups=yes", "RestrictSUIDSGID=yes"})
        EXPECT_NE(text.find(std::string("\n") + line + "\n"), std::string::npos) << line << "\n"
                                                                                 << text;
}

// systemd's own reader accepts the unit of a real program, in a plain folder
// and in one whose name needs quoting and escaping.
TEST(UnitFile, SystemdAcceptsTheUnit) {
    if (ts::runToEnd({"/bin/sh", "-c", "command -v systemd-analyze"}).first != 0)
        GTEST_SKIP() << "systemd-analyze is not installed";
    const std::string root = ts::makeTempDir("tolvane-unit");
    const std::string unit = root + "/tolvane-probe.service";
    for (const std::string& dir : {root + "/plain/", root + "/a b/100%/$HOME/"}) {
        std::filesystem::create_directories(dir + "RedfishServer");
        const std::string program = dir + "RedfishServer/tolvaneredfishserver";
        ts::writeFile(program, "#!/bin/sh\n");
        std::filesystem::permissions(program, std::filesystem::perms::owner_all);
        ts::writeFile(unit, systemdUnitText(program, dir, dir + "logs/"));
        const auto [code, output] =
            ts::runToEnd({"/bin/sh", "-c", "exec systemd-analyze verify --man=no \"$0\"", unit});
        EXPECT_EQ(code, 0) << dir << "\n" << output;
        EXPECT_EQ(output, "") << dir;
    }
    ts::removeTree(root);
}

TEST(UnitFile, PathCharactersWithAMeaningInUnitsAreEscaped) {
    const std::string text =
        systemdUnitText("/opt/a b/100%/$HOME/q\"x\\y/server", "/opt/a b/100%/", "/l/");
    EXPECT_NE(text.find("ExecStart=\"/opt/a b/100%%/$HOME/q\\\"x\\\\y/server\"\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("\nReadWritePaths=\"/opt/a b/100%%/\" \"-/l/\"\n"), std::string::npos)
        << text;
    // The path cannot end the line early.
    const std::string withNewline =
        systemdUnitText("/opt/x\nExecStartPre=/bin/false", "/o/", "/l/");
    EXPECT_EQ(withNewline.find("\nExecStartPre="), std::string::npos) << withNewline;
}

// A writable path that the unit cannot state exactly is left out, so the
// service gets less access, never more: ProtectSystem=strict keeps it read-only.
TEST(UnitFile, WritablePathsThatCannotBeStatedExactlyAreLeftOut) {
    struct Case {
        const char* installPath;
        const char* listed;
    };
    const Case cases[] = {
        {"", ""},
        {"relative/tree/", ""},
        {"/opt/x\nExecStartPre=/bin/false/", ""},
        {"/opt/quote\"d/", ""},
        {"/opt/back\\slash/", ""},
        {"/opt/ok/", "\"/opt/ok/\" "},
    };
    for (const Case& c : cases) {
        const std::string text = systemdUnitText(kProgram, c.installPath, "/var/log/t/");
        EXPECT_NE(text.find(std::string("\nReadWritePaths=") + c.listed + "\"-/var/log/t/\"\n"),
                  std::string::npos)
            << text;
        EXPECT_EQ(text.find("\nExecStartPre="), std::string::npos) << text;
    }
}

// ProtectHome=yes and PrivateTmp=yes hide whole folders; a writable path
// below one of them keeps it reachable through the weaker setting.
TEST(UnitFile, WritablePathsBelowHiddenFoldersStayReachable) {
    struct Case {
        const char* installPath;
        const char* logDirectory;
        const char* home;
        const char* tmp;
    };
    const Case cases[] = {
        {"/opt/t/", "/var/log/t/", "yes", "yes"},
        {"/home/ops/tolvane/", "/var/log/t/", "read-only", "yes"},
        {"/root/tolvane/", "/var/log/t/", "read-only", "yes"},
        {"/run/user/1000/t/", "/var/log/t/", "read-only", "yes"},
        {"/opt/t/", "/home/ops/logs/", "read-only", "yes"},
        {"/tmp/tolvane/", "/var/log/t/", "yes", "no"},
        {"/opt/t/", "/var/tmp/logs/", "yes", "no"},
        // Names that merely begin like one of those folders.
        {"/homestead/t/", "/rooted/l/", "yes", "yes"},
        {"/tmpfiles/t/", "/var/tmpl/", "yes", "yes"},
    };
    for (const Case& c : cases) {
        const std::string text = systemdUnitText(kProgram, c.installPath, c.logDirectory);
        EXPECT_NE(text.find(std::string("\nProtectHome=") + c.home + "\n"), std::string::npos)
            << text;
        EXPECT_NE(text.find(std::string("\nPrivateTmp=") + c.tmp + "\n"), std::string::npos)
            << text;
    }
}

} // namespace
