// The command words: help, unknown words, install and uninstall of the
// systemd unit.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

#include "hoste2e.h"
#include "redfishserver/service.h"
#include "testsupport.h"

using namespace hoste2e;

namespace {

const char kUsage[] = "--------------  Redfish Service  ----------------\n"
                      "Usage :\n"
                      "        install   : Install Redfish service. \n"
                      "        uninstall : Uninstalls Redfish service. \n"
                      "        help      : Display help menu.\n"
                      "-------------------------------------------------\n";

TEST(CommandLine, HelpPrintsTheSixLinesAndNothingElse) {
    ts::InstallTree tree;
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"help"}, std::vector<std::string>{"help", "run"}}) {
        ts::ServerProcess p(tree, args);
        EXPECT_EQ(p.waitExit(), 0);
        EXPECT_EQ(p.output(), kUsage);
    }
    EXPECT_EQ(tree.outLog(), "");
}

TEST(CommandLine, OtherWordsAndOtherLetterCasesStartServiceMode) {
    for (const char* word : {"RUN", "Help", "start"}) {
        ts::InstallTree tree;
        ts::ServerProcess server(tree, {word});
        ASSERT_TRUE(server.waitReady()) << word << ": " << server.output();
        ASSERT_TRUE(ts::waitUntil(
            [&] { return tree.capturedLog().find(kLine488) != std::string::npos; }, 5000));
        // Service mode: no banner, no usage, and SIGTERM is the stop control.
        EXPECT_EQ(server.stop(SIGTERM, 5000), 0) << word;
        EXPECT_EQ(server.output(), "") << word;
        EXPECT_EQ(tree.outLog(), std::string(kStarting) + startedLine(tree.port, false) + "Exit!\n")
            << word;
    }
}

class ServiceInstall : public ::testing::Test {
  protected:
    void SetUp() override { unitDir = ts::makeTempDir("tolvane-units") + "/"; }
    void TearDown() override { ts::removeTree(unitDir); }

    std::string runWord(const std::string& word, const std::string& dir) {
        ts::ServerProcess p(tree, {word}, {{"TOLVANE_SYSTEMD_DIR", dir}});
        EXPECT_EQ(p.waitExit(), 0) << word;
        return p.output();
    }
    std::string unitPath() const { return unitDir + "tolvaneredfishserver.service"; }

    ts::InstallTree tree;
    std::string unitDir;
};

TEST_F(ServiceInstall, InstallTwiceThenUninstallTwice) {
    EXPECT_EQ(runWord("install", unitDir), "Service installed successfully\n");
    const std::string program =
        std::filesystem::canonical(tree.serverDir + "tolvaneredfishserver").string();
    const std::string unit = ts::readFile(unitPath());
    EXPECT_EQ(unit, systemdUnitText(program, tree.root, tree.logDir));
    EXPECT_NE(unit.find("\nExecStart=\"" + program + "\"\n"), std::string::npos) << unit;
    EXPECT_NE(unit.find("\nType=simple\n"), std::string::npos) << unit;
    EXPECT_NE(unit.find("\nRestart=on-failure\n"), std::string::npos) << unit;
    EXPECT_NE(unit.find("\nWantedBy=multi-user.target\n"), std::string::npos) << unit;
    struct stat st {};
    ASSERT_EQ(::stat(unitPath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);

    // The service exists already: the existing unit is left as it is.
    ts::writeFile(unitPath(), unit + "# local note\n");
    EXPECT_EQ(runWord("install", unitDir), "CreateService failed (17)\n");
    EXPECT_EQ(ts::readFile(unitPath()), unit + "# local note\n");

    EXPECT_EQ(runWord("uninstall", unitDir),
              "NULL gHandleForInstanceOfLibrary\nService deleted successfully\n");
    EXPECT_FALSE(ts::fileExists(unitPath()));
    EXPECT_EQ(runWord("uninstall", unitDir), "");

    // And once more from the start.
    EXPECT_EQ(runWord("install", unitDir), "Service installed successfully\n");
    EXPECT_EQ(ts::readFile(unitPath()), unit);
    EXPECT_EQ(runWord("uninstall", unitDir),
              "NULL gHandleForInstanceOfLibrary\nService deleted successfully\n");
    EXPECT_EQ(std::filesystem::is_empty(unitDir), true);
    // Neither command starts a server or writes the output log.
    EXPECT_EQ(tree.outLog(), "");
    EXPECT_TRUE(tree.calls().empty());
}

TEST_F(ServiceInstall, MissingUnitFolderIsReportedLikeAnUnreachableServiceManager) {
    const std::string missing = unitDir + "no-such-folder/";
    EXPECT_EQ(runWord("install", missing), "OpenSCManager failed (2)\n");
    EXPECT_EQ(runWord("uninstall", missing), "OpenSCManager failed (2)\n");
    EXPECT_FALSE(ts::fileExists(missing));

    // A file where the folder should be.
    ts::writeFile(unitDir + "plainfile", "x");
    EXPECT_EQ(runWord("install", unitDir + "plainfile"), "OpenSCManager failed (20)\n");
}

TEST_F(ServiceInstall, UnitFolderWithoutTrailingSlashWorks) {
    std::string dir = unitDir.substr(0, unitDir.size() - 1);
    EXPECT_EQ(runWord("install", dir), "Service installed successfully\n");
    EXPECT_TRUE(ts::fileExists(unitPath()));
    EXPECT_EQ(runWord("uninstall", dir),
              "NULL gHandleForInstanceOfLibrary\nService deleted successfully\n");
    EXPECT_FALSE(ts::fileExists(unitPath()));
}

} // namespace
