// The plug-in host in process: loading both plug-ins from a server directory,
// the console messages, the initialisation result, and the stop routine.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "redfishserver/installpaths.h"
#include "loglines.h"
#include "redfishserver/pluginhost.h"
#include "redfishserver/serverroutine.h"
#include "testsupport.h"

namespace {

class PluginHost : public ::testing::Test {
  protected:
    void use(const ts::InstallOptions& options) {
        tree = std::make_unique<ts::InstallTree>(options);
        std::memset(gInstallPath, 0, sizeof(gInstallPath));
        std::strncpy(gInstallPath, tree->root.c_str(), sizeof(gInstallPath) - 1);
        for (const auto& kv : tree->environment())
            setenv(kv.first.c_str(), kv.second.c_str(), 1);
    }
    void SetUp() override {
        gHandleForInstanceOfLibrary = nullptr;
        gLogFunction = nullptr;
        gPluginInitResult = false;
        gStopRequested = false;
        unsetenv("SCRIPTED_INIT_RESULT");
    }
    void TearDown() override {
        std::memset(gInstallPath, 0, sizeof(gInstallPath));
        gHandleForInstanceOfLibrary = nullptr;
        gLogFunction = nullptr;
        gStopRequested = false;
    }
    std::vector<std::string> entries() const {
        std::vector<std::string> out;
        for (const auto& call : tree->calls())
            out.push_back(call.value("entry", ""));
        return out;
    }
    std::unique_ptr<ts::InstallTree> tree;
};

TEST_F(PluginHost, LogPluginLoadsAndItsLogEntryPointIsKept) {
    use(ts::InstallOptions());
    ASSERT_TRUE(loadLogServicePlugin());
    ASSERT_NE(gLogFunction, nullptr);
    gLogFunction("%s:%d", "line", 7);
    EXPECT_EQ(tree->capturedLog(), "line:7\n");
}

TEST_F(PluginHost, LogPluginMissingUnloadableOrWithoutLogFails) {
    ts::InstallOptions none;
    none.logPlugin = "";
    use(none);
    EXPECT_FALSE(loadLogServicePlugin());
    EXPECT_EQ(gLogFunction, nullptr);

    // A file that is no library.
    ts::writeFile(tree->serverDir + "Plugins/LogServicePlugin.so", "not a library");
    EXPECT_FALSE(loadLogServicePlugin());
    EXPECT_EQ(gLogFunction, nullptr);

    // A library without Log.
    ts::InstallOptions wrong;
    wrong.logPlugin = ts::scriptedPlugin();
    use(wrong);
    EXPECT_FALSE(loadLogServicePlugin());
    EXPECT_EQ(gLogFunction, nullptr);
}

TEST_F(PluginHost, WebServerPluginInitialisedOnceWithItsOwnHandle) {
    use(ts::InstallOptions());
    testing::internal::CaptureStdout();
    EXPECT_TRUE(loadWebServerPlugin());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_NE(gHandleForInstanceOfLibrary, nullptr);
    EXPECT_TRUE(gPluginInitResult);
    EXPECT_EQ(entries(), std::vector<std::string>{"initializeAllPlugins"});
    // The handle finds the command entry points the handler looks up.
    EXPECT_NE(pluginSymbol(gHandleForInstanceOfLibrary, "GetCommandInterfaceHandler"), nullptr);
    EXPECT_EQ(pluginSymbol(gHandleForInstanceOfLibrary, "NoSuchEntryPoint"), nullptr);
    EXPECT_EQ(pluginSymbol(nullptr, "GetCommandInterfaceHandler"), nullptr);
}

TEST_F(PluginHost, WebServerPluginMissingPrintsItsMessage) {
    ts::InstallOptions none;
    none.resourcePlugin = "";
    use(none);
    testing::internal::CaptureStdout();
    EXPECT_FALSE(loadWebServerPlugin());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Failed in initializing Webserver plugin\n");
    EXPECT_EQ(gHandleForInstanceOfLibrary, nullptr);
}

TEST_F(PluginHost, WebServerPluginNotLoadablePrintsNullHandle) {
    ts::InstallOptions none;
    none.resourcePlugin = "";
    use(none);
    ts::writeFile(tree->serverDir + "WebServerAbstractionModule.so", "\x7f"
                                                                     "ELF garbage");
    testing::internal::CaptureStdout();
    EXPECT_FALSE(loadWebServerPlugin());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "NULL gHandleForInstanceOfLibrary\n");
    EXPECT_EQ(gHandleForInstanceOfLibrary, nullptr);
}

TEST_F(PluginHost, InitialisationFalseOrMissingIsAFailure) {
    use(ts::InstallOptions());
    setenv("SCRIPTED_INIT_RESULT", "false", 1);
    EXPECT_FALSE(loadWebServerPlugin());
    EXPECT_FALSE(gPluginInitResult);
    EXPECT_EQ(entries(), std::vector<std::string>{"initializeAllPlugins"});
    unsetenv("SCRIPTED_INIT_RESULT");

    ts::InstallOptions noInit;
    noInit.resourcePlugin = ts::scriptedPlugin("NoInit");
    use(noInit);
    gPluginInitResult = true;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(loadWebServerPlugin());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_FALSE(gPluginInitResult);
    EXPECT_TRUE(entries().empty());
}

TEST_F(PluginHost, UnloadShutsThePluginDownAndRaisesTheStopFlag) {
    use(ts::InstallOptions());
    ASSERT_TRUE(loadWebServerPlugin());
    testing::internal::CaptureStdout();
    unloadWebServerPlugin();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_TRUE(gStopRequested.load());
    EXPECT_EQ(entries(),
              (std::vector<std::string>{"initializeAllPlugins", "uninitializeAllPlugins"}));
}

TEST_F(PluginHost, UnloadWithoutUninitializeEntryPointSkipsIt) {
    ts::InstallOptions noUninit;
    noUninit.resourcePlugin = ts::scriptedPlugin("NoUninit");
    use(noUninit);
    ASSERT_TRUE(loadWebServerPlugin());
    testing::internal::CaptureStdout();
    unloadWebServerPlugin();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_TRUE(gPluginInitResult); // untouched
    EXPECT_TRUE(gStopRequested.load());
    EXPECT_EQ(entries(), std::vector<std::string>{"initializeAllPlugins"});
}

TEST_F(PluginHost, UnloadWithNothingLoadedStillStops) {
    testing::internal::CaptureStdout();
    unloadWebServerPlugin();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "NULL gHandleForInstanceOfLibrary\n");
    EXPECT_TRUE(gStopRequested.load());
}

} // namespace
