// The systemd unit written by "install".
#include <gtest/gtest.h>

#include "redfishserver/service.h"

namespace {

const char kProgram[] = "/opt/tolvane/RedfishServer/tolvaneredfishserver";

TEST(UnitFile, ExactTextForAPlainPath) {
    EXPECT_EQ(systemdUnitText(kProgram, "/opt/tolvane/", "/var/log/tolvane/"),
              "[Unit]\n"
              "Description=Tolvane Redfish Server\n"
              "After=network.target\n"
              "\n"
              "[Service]\n"
              "Type=simple\n"
              "ExecStart=\"/opt/tolvane/RedfishServer/tolvaneredfishserver\"\n"
              "Restart=on-failure\n"
              "NoNewPrivileges=yes\n"
              "ProtectSystem=strict\n"
              "ReadWritePaths=\"/opt/tolvane/\" \"-/var/log/tolvane/\"\n"
              "ProtectHome=yes\n"
              "PrivateTmp=yes\n"
              "ProtectKernelTunables=yes\n"
              "ProtectControlGroups=yes\n"
              "RestrictSUIDSGID=yes\n"
              "\n"
              "[Install]\n"
              "WantedBy=multi-user.target\n");
}

TEST(UnitFile, PathCharactersWithAMeaningInUnitsAreEscaped) {
    const std::string text =
        systemdUnitText("/opt/a b/100%/$HOME/q\"x\\y/server", "/opt/a b/100%/", "/l/");
    EXPECT_NE(text.find("ExecStart=\"/opt/a b/100%%/$$HOME/q\\\"x\\\\y/server\"\n"),
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
