// The systemd unit written by "install".
#include <gtest/gtest.h>

#include "redfishserver/service.h"

namespace {

TEST(UnitFile, ExactTextForAPlainPath) {
    EXPECT_EQ(systemdUnitText("/opt/tolvane/RedfishServer/tolvaneredfishserver"),
              "[Unit]\n"
              "Description=Tolvane Redfish Server\n"
              "After=network.target\n"
              "\n"
              "[Service]\n"
              "Type=simple\n"
              "ExecStart=\"/opt/tolvane/RedfishServer/tolvaneredfishserver\"\n"
              "Restart=on-failure\n"
              "\n"
              "[Install]\n"
              "WantedBy=multi-user.target\n");
}

TEST(UnitFile, PathCharactersWithAMeaningInUnitsAreEscaped) {
    const std::string text = systemdUnitText("/opt/a b/100%/$HOME/q\"x\\y/server");
    EXPECT_NE(text.find("ExecStart=\"/opt/a b/100%%/$$HOME/q\\\"x\\\\y/server\"\n"),
              std::string::npos)
        << text;
    // The path cannot end the line early.
    const std::string withNewline = systemdUnitText("/opt/x\nExecStartPre=/bin/false");
    EXPECT_EQ(withNewline.find("\nExecStartPre="), std::string::npos) << withNewline;
}

} // namespace
