#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "redfishserver/installpaths.h"
#include "testsupport.h"

namespace {

// Each test sets the variables it needs; none leaks into the next.
class Paths : public ::testing::Test {
  protected:
    void SetUp() override {
        unsetenv("TOLVANE_INSTALL_PATH");
        unsetenv("TOLVANE_LOG_DIR");
        std::memset(buffer, 'Z', sizeof buffer);
        buffer[sizeof buffer - 1] = '\0';
    }
    void TearDown() override {
        unsetenv("TOLVANE_INSTALL_PATH");
        unsetenv("TOLVANE_LOG_DIR");
    }
    char buffer[kPathBufferSize];
};

std::string folderAboveExecutable() {
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe");
    return exe.parent_path().parent_path().string() + "/";
}

} // namespace

TEST_F(Paths, InstallPathIsAPlainPrefix) {
    setenv("TOLVANE_INSTALL_PATH", "/opt/tolvane/", 1);
    EXPECT_EQ(readInstallPath(buffer), 0);
    EXPECT_STREQ(buffer, "/opt/tolvane/");
    // No separator is ever added.
    setenv("TOLVANE_INSTALL_PATH", "/opt/tolvane", 1);
    EXPECT_EQ(readInstallPath(buffer), 0);
    EXPECT_STREQ(buffer, "/opt/tolvane");
    setenv("TOLVANE_INSTALL_PATH", "", 1);
    EXPECT_EQ(readInstallPath(buffer), 0);
    EXPECT_STREQ(buffer, "");
}

TEST_F(Paths, InstallPathDefaultsToTheFolderAboveTheProgram) {
    EXPECT_EQ(readInstallPath(buffer), 0);
    EXPECT_EQ(std::string(buffer), folderAboveExecutable());
    EXPECT_EQ(buffer[std::strlen(buffer) - 1], '/');
}

TEST_F(Paths, InstallPathTooLongIsRefusedAndBufferUntouched) {
    std::string longest(kPathBufferSize - 1, 'a');
    setenv("TOLVANE_INSTALL_PATH", longest.c_str(), 1);
    EXPECT_EQ(readInstallPath(buffer), 0);
    EXPECT_EQ(std::string(buffer), longest);

    std::memset(buffer, 'Z', 10);
    buffer[10] = '\0';
    std::string tooLong(kPathBufferSize, 'a');
    setenv("TOLVANE_INSTALL_PATH", tooLong.c_str(), 1);
    EXPECT_NE(readInstallPath(buffer), 0);
    EXPECT_STREQ(buffer, "ZZZZZZZZZZ");
}

TEST_F(Paths, LogDirectoryGetsASeparator) {
    setenv("TOLVANE_LOG_DIR", "/var/log/tolvane", 1);
    EXPECT_EQ(readLogDirectory(buffer), 0);
    EXPECT_STREQ(buffer, "/var/log/tolvane/");
    setenv("TOLVANE_LOG_DIR", "/var/log/tolvane/", 1);
    EXPECT_EQ(readLogDirectory(buffer), 0);
    EXPECT_STREQ(buffer, "/var/log/tolvane/");
    setenv("TOLVANE_LOG_DIR", "", 1);
    EXPECT_EQ(readLogDirectory(buffer), 0);
    EXPECT_STREQ(buffer, "");
}

TEST_F(Paths, LogDirectoryDefaultsToLogsUnderTheInstallPath) {
    setenv("TOLVANE_INSTALL_PATH", "/srv/tree/", 1);
    EXPECT_EQ(readLogDirectory(buffer), 0);
    EXPECT_STREQ(buffer, "/srv/tree/logs/");
    unsetenv("TOLVANE_INSTALL_PATH");
    EXPECT_EQ(readLogDirectory(buffer), 0);
    EXPECT_EQ(std::string(buffer), folderAboveExecutable() + "logs/");
}

TEST_F(Paths, LogDirectoryWithoutRoomForTheSeparatorIsEmpty) {
    std::string fits(kPathBufferSize - 2, 'd');
    setenv("TOLVANE_LOG_DIR", fits.c_str(), 1);
    EXPECT_EQ(readLogDirectory(buffer), 0);
    EXPECT_EQ(std::string(buffer), fits + "/");

    std::string full(kPathBufferSize - 1, 'd');
    setenv("TOLVANE_LOG_DIR", full.c_str(), 1);
    EXPECT_EQ(readLogDirectory(buffer), 0);
    EXPECT_STREQ(buffer, "");
}

TEST_F(Paths, DerivedLocations) {
    std::strcpy(gInstallPath, "/opt/t/");
    EXPECT_EQ(serverDirectory(), "/opt/t/RedfishServer/");
    std::strcpy(gInstallPath, "");
    EXPECT_EQ(serverDirectory(), "RedfishServer/");

    std::strcpy(gLogDirectory, "/var/log/t/");
    composeOutLogPath();
    EXPECT_STREQ(gOutLogPath, "/var/log/t/RedfishServer.out.log");
    std::strcpy(gLogDirectory, "");
    composeOutLogPath();
    EXPECT_STREQ(gOutLogPath, "RedfishServer.out.log");

    // No room for the file name: no output log rather than a wrong one.
    std::string longDir(kPathBufferSize - 10, 'l');
    std::strcpy(gLogDirectory, longDir.c_str());
    composeOutLogPath();
    EXPECT_STREQ(gOutLogPath, "");
    gLogDirectory[0] = '\0';
}

TEST_F(Paths, WriteOutLogAppendsExactlyWhatIsFormatted) {
    ts::TempDir dir;
    std::strcpy(gLogDirectory, dir.path().c_str());
    composeOutLogPath();
    WriteOutLog("Library initialized with SSL\n");
    WriteOutLog("port %s%c", "8443s", '!');
    WriteOutLog("%d%%", -7);
    EXPECT_EQ(ts::readFile(dir.path() + "RedfishServer.out.log"),
              "Library initialized with SSL\nport 8443s!-7%");
    gLogDirectory[0] = '\0';
}

TEST_F(Paths, WriteOutLogDropsTheMessageWhenTheFileCannotBeOpened) {
    ts::TempDir dir;
    std::string missing = dir.path() + "no/such/dir/";
    std::strcpy(gLogDirectory, missing.c_str());
    composeOutLogPath();
    WriteOutLog("lost\n");
    EXPECT_FALSE(std::filesystem::exists(missing));
    gOutLogPath[0] = '\0';
    WriteOutLog("lost too\n");
    gLogDirectory[0] = '\0';
}
