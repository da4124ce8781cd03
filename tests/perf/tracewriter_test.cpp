// The trace writer's quick steps: records past the formatting buffer, the
// cached time stamp, and masking skipped only where it could change nothing.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Logger.h"
#include "logescape.h"
#include "logplatform.h"
#include "passwordmask.h"
#include "redfishtrace.h"
#include "timestamp.h"
#include "testsupport.h"

namespace {

class PerfTraceWriter : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("TOLVANE_LOG_DIR", dir.path().c_str(), 1);
        Logger::SetLogFilePath();
        Logger::SetDebugLevel(0);
        Logger::SetRollingSize(5000);
    }
    std::string tracePath() const { return dir.path() + "RedfishClientTrace.log"; }
    std::string trace() const { return ts::readFile(tracePath()); }
    // The "Request Arguments" value of the only request record in the file.
    std::string arguments() const {
        const std::string text = trace();
        const std::string label = "Request Arguments     : ";
        const size_t begin = text.find(label);
        const size_t end = text.find("\nRequest Thread        : ");
        if (begin == std::string::npos || end == std::string::npos)
            return "<no record>";
        return text.substr(begin + label.size(), end - begin - label.size());
    }
    ts::TempDir dir{"tolvane-perftrace"};
};

TEST_F(PerfTraceWriter, RecordsLargerThanTheFormattingBufferAreWrittenWhole) {
    for (size_t size : {size_t{4094}, size_t{4095}, size_t{4096}, size_t{100000}}) {
        std::string big(size, 'b');
        big.back() = 'E';
        Logger::PrintLog(0, "<%s>", big.c_str());
        EXPECT_EQ(trace(), "<" + big + ">") << size;
        std::remove(tracePath().c_str());
    }
}

TEST_F(PerfTraceWriter, RecordsOfManyThreadsLandWholeAndOnce) {
    Logger::SetRollingSize(100000); // all in one file
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            const std::string body(3000 + t * 1000, static_cast<char>('a' + t));
            for (int i = 0; i < 50; ++i)
                Logger::PrintLog(0, "[%s]\n", body.c_str());
        });
    }
    for (auto& th : threads)
        th.join();
    std::istringstream in(trace());
    int count = 0;
    for (std::string line; std::getline(in, line); ++count) {
        ASSERT_GE(line.size(), 3u);
        const char c = line[1];
        EXPECT_EQ(line, "[" + std::string(3000 + (c - 'a') * 1000, c) + "]");
    }
    EXPECT_EQ(count, 200);
}

TEST_F(PerfTraceWriter, CachedTimeStampIsTheCurrentSecondsText) {
    for (int i = 0; i < 3; ++i) {
        char before[48] = {0};
        char stamp[48] = {0};
        char after[48] = {0};
        formatTimeStamp(std::time(nullptr), before, sizeof before);
        Logger::GetTimeStamp(stamp);
        formatTimeStamp(std::time(nullptr), after, sizeof after);
        EXPECT_TRUE(std::string(stamp) == before || std::string(stamp) == after) << stamp;
        if (i < 2) // into the next second: the passing time is what is tested
            std::this_thread::sleep_for(std::chrono::milliseconds(600));
    }
}

TEST_F(PerfTraceWriter, ThreadIdIsAskedOncePerThreadButStaysPerThread) {
    const int32_t mine = currentThreadId();
    EXPECT_EQ(currentThreadId(), mine);
    int32_t other = 0;
    std::thread([&other] { other = currentThreadId(); }).join();
    EXPECT_NE(other, mine);
    EXPECT_NE(other, 0);
}

TEST_F(PerfTraceWriter, ArgumentsAreMaskedExactlyAsTheMaskingRuleSays) {
    const std::vector<std::string> bodies = {
        "{}",
        R"({"LocationIndicatorActive":false})",
        R"({"UserName":"admin","Password":"secret"})",
        R"({"user":{"PASSWORD":"x","pAsSwOrD":[1,2]}})",
        R"({"P\u0061ssword":"escaped name"})",
        R"({"note":"my password is here","x":1})",
        R"({"Pass":"not a password member","word":"w"})",
        R"({"a":"back\\slash"})",
        "not json at all",
        "password=plain form text",
        R"([{"Password":"in an array"}])",
        "{\"Password\"\n:\n\"spaced\"}",
        R"({"x":"PassworD"})",
        R"({"p":"pp","pa":"pas","passwor":"d"})",
    };
    for (const std::string& body : bodies) {
        writeRequestTrace("PATCH", "/redfish/v1/x", body.c_str());
        // Control characters are escaped after masking: a record keeps its lines.
        const std::string masked = maskPasswords(body);
        std::string expected;
        logtext::appendEscaped(expected, masked.data(), masked.size());
        EXPECT_EQ(arguments(), expected) << body;
        std::remove(tracePath().c_str());
    }
    writeRequestTrace("GET", "/redfish/v1/x", "");
    EXPECT_EQ(arguments(), "{}");
    std::remove(tracePath().c_str());
    writeRequestTrace("GET", "/redfish/v1/x", nullptr);
    EXPECT_EQ(arguments(), "{}");
}

TEST_F(PerfTraceWriter, EachRecordOpensAndClosesTheFile) {
    writeResponseTrace("GET", 200, "{}");
    // The file may be removed between records; the next one starts it anew.
    ASSERT_EQ(std::remove(tracePath().c_str()), 0);
    writeResponseTrace("GET", 404, "gone");
    const std::string text = trace();
    EXPECT_NE(text.find("Response HTTP Status  : 404, Not Found\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("200, Ok"), std::string::npos) << text;
    // Created as a plain file (its permissions: tests/logging).
    struct stat st {};
    ASSERT_EQ(stat(tracePath().c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
}

} // namespace
