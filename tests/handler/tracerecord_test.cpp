// Layout of the request and response trace records in the trace file.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "Logger.h"
#include "logplatform.h"
#include "redfishtrace.h"
#include "testsupport.h"

namespace {

class TraceRecords : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("TOLVANE_LOG_DIR", dir.path().c_str(), 1);
        Logger::SetLogFilePath();
        Logger::SetDebugLevel(0);
    }
    std::string trace() const { return ts::readFile(dir.path() + "RedfishClientTrace.log"); }
    static std::vector<std::string> lines(const std::string& text) {
        EXPECT_TRUE(text.empty() || text.back() == '\n') << "every line ends with a line feed";
        return ts::lines(text);
    }
    ts::TempDir dir{"tolvane-trace"};
};

const std::regex kStamp("(Sun|Mon|Tue|Wed|Thu|Fri|Sat) (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|"
                        "Nov|Dec) [0-9]{1,2} [0-9]{1,2}:[0-9]{1,2}:[0-9]{1,2} UTC [0-9]{4}");

TEST_F(TraceRecords, RequestRecordLayout) {
    writeRequestTrace("GET", "/redfish/v1/Systems", "{\"a\":1}");
    const auto l = lines(trace());
    ASSERT_EQ(l.size(), 6u);
    ASSERT_EQ(l[0].substr(0, 24), "Request Time          : ");
    EXPECT_TRUE(std::regex_match(l[0].substr(24), kStamp)) << l[0];
    EXPECT_EQ(l[1], "HTTP Method           : GET");
    EXPECT_EQ(l[2], "Request URL           : /redfish/v1/Systems");
    EXPECT_EQ(l[3], "Request Arguments     : {\"a\":1}");
    EXPECT_EQ(l[4], "Request Thread        : " + std::to_string(currentThreadId()));
    EXPECT_EQ(l[5], std::string(22, ' '));
}

TEST_F(TraceRecords, ResponseRecordLayout) {
    writeResponseTrace("PATCH", 404, "{\"error\":\"none\"}");
    const auto l = lines(trace());
    ASSERT_EQ(l.size(), 6u);
    ASSERT_EQ(l[0].substr(0, 24), "Response Time         : ");
    EXPECT_TRUE(std::regex_match(l[0].substr(24), kStamp)) << l[0];
    EXPECT_EQ(l[1], "Response HTTP Status  : 404, Not Found");
    EXPECT_EQ(l[2], "HTTP Method           : PATCH");
    EXPECT_EQ(l[3], "Response Data         : {\"error\":\"none\"}");
    EXPECT_EQ(l[4], "Response Thread       : " + std::to_string(currentThreadId()));
    EXPECT_EQ(l[5], std::string(80, '='));
}

TEST_F(TraceRecords, ReasonTextsOfUnlistedStatuses) {
    writeResponseTrace("GET", 417, "x");
    writeResponseTrace("GET", 429, "y");
    writeResponseTrace("GET", 413, "z");
    const auto l = lines(trace());
    ASSERT_EQ(l.size(), 18u);
    EXPECT_EQ(l[1], "Response HTTP Status  : 417, Expectation Failed");
    EXPECT_EQ(l[7], "Response HTTP Status  : 429, Expectation Failed");
    EXPECT_EQ(l[13], "Response HTTP Status  : 413, Payload Too Large");
}

TEST_F(TraceRecords, EmptyArgumentsAreWrittenAsEmptyObject) {
    writeRequestTrace("GET", "/redfish/v1/Systems", "");
    writeRequestTrace("GET", "/redfish/v1/Systems", nullptr);
    const auto l = lines(trace());
    ASSERT_EQ(l.size(), 12u);
    EXPECT_EQ(l[3], "Request Arguments     : {}");
    EXPECT_EQ(l[9], "Request Arguments     : {}");
}

TEST_F(TraceRecords, ControlCharactersCannotForgeRecordLines) {
    writeRequestTrace("GET\r\nX", "/redfish/v1/X\nHTTP Method           : DELETE",
                      "line one\nline two\r\tend\x01");
    writeResponseTrace("GET\n", 200, "{}\n====\x1b[2J");
    const auto l = lines(trace());
    ASSERT_EQ(l.size(), 12u);
    EXPECT_EQ(l[1], "HTTP Method           : GET\\r\\nX");
    EXPECT_EQ(l[2], "Request URL           : /redfish/v1/X\\nHTTP Method           : DELETE");
    EXPECT_EQ(l[3], "Request Arguments     : line one\\nline two\\r\\tend\\u0001");
    EXPECT_EQ(l[8], "HTTP Method           : GET\\n");
    EXPECT_EQ(l[9], "Response Data         : {}\\n====\\u001B[2J");
}

TEST_F(TraceRecords, PasswordsAreMaskedInRequestArguments) {
    writeRequestTrace("PATCH", "/redfish/v1/AccountService/Accounts/1",
                      "{\"UserName\":\"bob\",\"Password\":\"hunter2\"}");
    const std::string t = trace();
    EXPECT_EQ(t.find("hunter2"), std::string::npos) << t;
    EXPECT_NE(t.find("Request Arguments     : {\"UserName\":\"bob\",\"Password\":\"******\"}\n"),
              std::string::npos)
        << t;
}

TEST_F(TraceRecords, ResponseDataIsNotChanged) {
    writeResponseTrace("GET", 200, "{\"Password\":null}");
    EXPECT_NE(trace().find("Response Data         : {\"Password\":null}\n"), std::string::npos);
}

TEST_F(TraceRecords, DebugMasksFiveAndSixWriteNothing) {
    for (int mask : {5, 6}) {
        Logger::SetDebugLevel(mask);
        writeRequestTrace("GET", "/redfish/v1/Systems", "{}");
        writeResponseTrace("GET", 200, "{}");
        EXPECT_EQ(trace(), "") << mask;
    }
    Logger::SetDebugLevel(4);
    writeResponseTrace("GET", 200, "{}");
    EXPECT_NE(trace(), "");
}

} // namespace
