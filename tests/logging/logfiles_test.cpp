// The log files are never readable by other users, whatever the umask, and a
// line of the log plug-in stays one line whatever its message holds.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "logsink.h"
#include "tracefixture.h"

namespace {

class UmaskZero {
  public:
    UmaskZero() : saved_(umask(0)) {}
    ~UmaskZero() { umask(saved_); }

  private:
    mode_t saved_;
};

mode_t modeOf(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

} // namespace

TEST_F(TraceFile, TraceFileAndCopiesAreNotWorldReadableUnderUmaskZero) {
    UmaskZero guard;
    Logger::SetRollingSize(1); // rolls past 100 bytes
    const std::string record(150, 'x');
    for (int i = 0; i < 3; ++i)
        Logger::PrintLog(0, "%s", record.c_str());
    for (const std::string& path : {trace, numbered(1), numbered(2)})
        EXPECT_EQ(modeOf(path), 0640u) << path;
}

TEST_F(TraceFile, WorldReadableTraceFileIsClosedOnItsNextRecord) {
    ts::writeFile(trace, "old\n");
    ASSERT_EQ(chmod(trace.c_str(), 0666), 0);
    Logger::PrintLog(0, "new\n");
    EXPECT_EQ(modeOf(trace), 0640u);
    EXPECT_EQ(ts::readFile(trace), "old\nnew\n");
}

TEST(LogPluginFiles, FilesAndDirectoriesAreNotWorldReadableUnderUmaskZero) {
    ts::TempDir scratch;
    UmaskZero guard;
    const std::string directory = scratch.path() + "logs/server";
    tolvane::logservice::LogSink sink(directory, 64, 2);
    for (int i = 0; i < 3; ++i)
        sink.write(std::string(40, 'y'));
    for (const std::string& path : {scratch.path() + "logs", directory})
        EXPECT_EQ(modeOf(path), 0750u) << path;
    for (const std::string& path :
         {directory + "/RedfishServer.log", directory + "/RedfishServer.log.1"})
        EXPECT_EQ(modeOf(path), 0640u) << path;
}

TEST(LogPluginFiles, ControlCharactersInAMessageCannotForgeLines) {
    ts::TempDir scratch;
    tolvane::logservice::LogSink sink(scratch.path());
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"uri /x\nREDFISHSERVER:forged\n", "uri /x\\nREDFISHSERVER:forged"},
        {"a\r\tb\x01\x7f" + std::string(1, '\0') + "c\r\n", "a\\r\\tb\\u0001\\u007F\\u0000c"},
        {"plain \\n caf\xc3\xa9", "plain \\n caf\xc3\xa9"},
    };
    for (const auto& [message, written] : cases)
        sink.write(message);
    std::istringstream in(ts::readFile(scratch.path() + "RedfishServer.log"));
    size_t index = 0;
    for (std::string line; std::getline(in, line); ++index) {
        ASSERT_LT(index, cases.size()) << line;
        const size_t blank = line.find(' ');
        ASSERT_NE(blank, std::string::npos);
        EXPECT_EQ(line.substr(blank + 1), cases[index].second);
    }
    EXPECT_EQ(index, cases.size());
}
