// The real program loads the probe as its resource plug-in: the probe's calls
// into the program (logger, engine functions, a wrapper static member)
// resolve at load time and work from inside a request.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "testsupport.h"

TEST(ExportsE2E, ProbePluginCallsTheProgramFromARequest) {
    ts::InstallOptions options;
    options.resourcePlugin = TOLVANE_EXPORT_PROBE;
    options.debugMask = 4;
    ts::InstallTree tree(options);
    ts::ServerProcess server(tree);
    ASSERT_TRUE(server.waitReady()) << server.output();

    const ts::Response login =
        ts::request(tree.port, "POST", "/redfish/v1/SessionService/Sessions",
                    {"Content-Type: application/json"},
                    "{\"UserName\":\"admin\",\"Password\":\"pw\"}", tree.tls);
    ASSERT_EQ(login.status, 201) << login.raw;
    const ts::Response probe = ts::request(tree.port, "GET", "/redfish/v1/Probe",
                                           {"X-Auth-Token: probe-token"}, "", tree.tls);
    ASSERT_EQ(probe.status, 200) << probe.raw << server.output();
    const nlohmann::json data = nlohmann::json::parse(probe.body);
    EXPECT_EQ(data["DebugLogType"], 4);
    EXPECT_EQ(data["Encoded"], "%2fredfish%2fv1%2fProbe");
    EXPECT_EQ(data["Found"], 1);
    EXPECT_EQ(data["Compare"], 0);
    EXPECT_FALSE(data["Version"].get<std::string>().empty());
    // Logger::PrintLog, called by the plug-in, wrote into the program's trace file.
    EXPECT_NE(tree.traceLog().find("export probe GET /redfish/v1/Probe\n"), std::string::npos)
        << tree.traceLog();
    EXPECT_TRUE(server.running());
}
