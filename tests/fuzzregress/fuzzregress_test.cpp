// Replays the inputs that made the whole-request fuzz target fail, against
// the real program with the scripted plug-in: every answer starts with a
// clean status line, no line the client sent comes back as a header line,
// and the server keeps serving.
#include <algorithm>
#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "testsupport.h"

namespace fs = std::filesystem;

namespace {

// (file name, bytes) of every input kept for a fuzz target, by name.
std::vector<std::pair<std::string, std::string>> regressionInputs(const std::string& target) {
    std::vector<std::pair<std::string, std::string>> inputs;
    const fs::path dir = fs::path(TOLVANE_FUZZ_REGRESSIONS) / target;
    for (const auto& entry : fs::directory_iterator(dir)) {
        if (entry.is_regular_file())
            inputs.emplace_back(entry.path().filename().string(),
                                ts::readFile(entry.path().string()));
    }
    std::sort(inputs.begin(), inputs.end());
    return inputs;
}

// The non-empty lines of a request after its request line.
std::vector<std::string> headerLinesSent(const std::string& request) {
    std::vector<std::string> lines;
    std::istringstream in(request);
    std::string line;
    bool first = true;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!first && !line.empty())
            lines.push_back(line);
        first = false;
    }
    return lines;
}

void expectCleanAnswer(const std::string& request, const std::string& raw) {
    ASSERT_FALSE(raw.empty()) << "no answer";
    const ts::Response response = ts::parseResponse(raw);
    ASSERT_TRUE(response.complete) << raw;
    static const std::regex kStatusLine("HTTP/1\\.[01] [1-5][0-9][0-9] [ -~]*");
    EXPECT_TRUE(std::regex_match(response.statusLine, kStatusLine)) << response.statusLine;
    for (const std::string& line : headerLinesSent(request))
        EXPECT_EQ(response.headerBlock.find(line), std::string::npos)
            << "request line \"" << line << "\" came back in the header block:\n"
            << response.headerBlock;
}

class FuzzRegressRequest : public ::testing::Test {
  protected:
    ts::InstallTree tree;
    ts::ServerProcess server{tree};
    void SetUp() override { ASSERT_TRUE(server.waitReady()) << server.output(); }
    void expectStillServing() {
        const ts::Response root = ts::request(tree.port, "GET", "/redfish/v1");
        EXPECT_EQ(root.status, 200);
        EXPECT_TRUE(server.running());
    }
};

} // namespace

TEST_F(FuzzRegressRequest, KeptInputsGetCleanAnswers) {
    const auto inputs = regressionInputs("request");
    ASSERT_FALSE(inputs.empty());
    for (const auto& [name, bytes] : inputs) {
        SCOPED_TRACE(name);
        expectCleanAnswer(bytes, ts::exchange(tree.port, bytes));
    }
    expectStillServing();
}

// A request line with a word too many leaves the version field running on
// over the header lines; the refusal must not repeat them.
TEST_F(FuzzRegressRequest, VersionPastTheRequestLineIsNotEchoed) {
    const std::string request = "GET / /redfish/v1/Systems HTTP/1.1\r\nHost: fuzz\r\n"
                                "X-Injected: yes\r\n\r\n";
    const std::string raw = ts::exchange(tree.port, request);
    expectCleanAnswer(request, raw);
    EXPECT_EQ(raw.compare(0, 26, "HTTP/1.0 400 Bad Request\r\n"), 0) << raw;
    EXPECT_FALSE(ts::parseResponse(raw).hasHeader("X-Injected"));
    expectStillServing();
}

// A version word ending in bytes outside ASCII runs on the same way.
TEST_F(FuzzRegressRequest, VersionWithHighBytesIsNotEchoed) {
    const std::string request = "GET /redfish/v1/Systems HTTP/1\xd6\xce\r\nHost: fuzz\r\n"
                                "X-Auth-Token: sometoken\r\n\r\n";
    const std::string raw = ts::exchange(tree.port, request);
    expectCleanAnswer(request, raw);
    EXPECT_EQ(raw.compare(0, 26, "HTTP/1.0 400 Bad Request\r\n"), 0) << raw;
    EXPECT_EQ(raw.find("sometoken"), std::string::npos);
    expectStillServing();
}

// A well-formed request keeps its own version in the answer.
TEST_F(FuzzRegressRequest, WellFormedRequestKeepsItsVersion) {
    const std::string raw =
        ts::exchange(tree.port, "GET /redfish HTTP/1.1\r\nHost: fuzz\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(raw.compare(0, 9, "HTTP/1.1 "), 0) << raw;
}
