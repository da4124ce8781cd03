// Multipart POSTs against the real program: uploads for the OEM actions, the
// argument handed to the plug-in, the stored file's life, and multipart POSTs
// to other URIs.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "poste2e.h"

using poste2e::contains;

namespace {

constexpr const char* kToken = "upload-token";
constexpr const char* kRestore = "/redfish/v1/Managers/1/Actions/Oem/Veltrano.RestoreConfiguration";
constexpr const char* kSpdm = "/redfish/v1/Managers/1/Actions/Oem/Veltrano.SPDMOperations";
constexpr const char* kMicrocode = "/redfish/v1/Managers/1/Actions/Oem/Veltrano.UpgradeMicrocode";
constexpr const char* kBoundary = "----tolvaneBoundary7MA4YWxk";

class UploadTest : public poste2e::ServerTest {
  protected:
    ts::InstallOptions installOptions() override {
        ts::InstallOptions o;
        o.debugMask = 3; // the per-request DEBUG lines are read
        return o;
    }
    void SetUp() override {
        poste2e::ServerTest::SetUp();
        if (HasFatalFailure())
            return;
        ASSERT_EQ(login(kToken, "/redfish/v1/SessionService/Sessions/1").status, 201);
        tree->setReply("*", poste2e::kProbeReply);
        tree->clearCalls();
    }
    std::string uploads() const { return tree->serverDir + "uploads/"; }
    std::vector<std::string> uploadedNames() const {
        std::vector<std::string> names;
        std::error_code ec;
        for (auto& entry : std::filesystem::directory_iterator(uploads(), ec))
            names.push_back(entry.path().filename().string());
        return names;
    }
    ts::Response upload(const std::string& target, const std::vector<ts::FormPart>& parts,
                        bool authorised = true) {
        std::vector<std::string> headers = {std::string("Content-Type: multipart/form-data; "
                                                        "boundary=") +
                                            kBoundary};
        if (authorised)
            headers.push_back(std::string("X-Auth-Token: ") + kToken);
        return ts::request(tree->port, "POST", target, headers, ts::multipartBody(kBoundary, parts),
                           tree->tls);
    }
    nlohmann::json onlyPostCall() {
        auto calls = callsOf("POST");
        EXPECT_EQ(calls.size(), 1u);
        return calls.empty() ? nlohmann::json() : calls.back();
    }
    static nlohmann::json argumentOf(const nlohmann::json& call) {
        return nlohmann::json::parse(call["body"].get<std::string>());
    }
};

} // namespace

TEST_F(UploadTest, StoredUnderTheBaseNameAndDeletedAfterTheAnswer) {
    for (const char* clientName :
         {"C:\\Users\\admin\\images\\fw.bin", "/home/admin/images/fw.bin"}) {
        tree->clearCalls();
        ts::Response r = upload(poste2e::kFirmware, {{"file", clientName, "IMAGE-BYTES\x01\x02"}});
        EXPECT_EQ(r.status, 200) << r.raw;
        nlohmann::json call = onlyPostCall();
        EXPECT_EQ(call["uri"], poste2e::kFirmware);
        EXPECT_EQ(argumentOf(call).dump(),
                  nlohmann::json({{"absoluteFilePath", uploads() + "fw.bin"}}).dump());
        // The plug-in saw the whole file, readable by owner and group only.
        EXPECT_EQ(call["fileExists"], true);
        EXPECT_EQ(call["fileContent"], "IMAGE-BYTES\x01\x02");
        EXPECT_EQ(call["fileMode"], 0640);
        // Gone once the answer is out.
        EXPECT_TRUE(uploadedNames().empty()) << clientName;
    }
    struct stat info {};
    ASSERT_EQ(stat(uploads().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0750u);
}

TEST_F(UploadTest, AnswerHeadIsWrittenByTheLibrary) {
    tree->setReply("POST", R"({"HttpStatus":202,"Data":{"TaskId":"5"}})");
    ts::Response r = upload(poste2e::kFirmware, {{"file", "fw.bin", "x"}});
    EXPECT_EQ(r.statusLine, "HTTP/1.1 202 Accepted");
    ASSERT_EQ(r.headers.size(), 3u) << r.headerBlock;
    EXPECT_EQ(r.headers[0],
              std::make_pair(std::string("Content-Type"), std::string("application/json")));
    EXPECT_EQ(r.headers[1], std::make_pair(std::string("Connection"), std::string("keep-alive")));
    EXPECT_EQ(r.headers[2].first, "Date");
    EXPECT_EQ(r.body, R"({"TaskId":"5"})");
}

TEST_F(UploadTest, FieldConversions) {
    upload(poste2e::kFirmware, {{"Force", "", "true"},
                                {"Verify", "", "false"},
                                {"Count", "", "3"},
                                {"Name", "", "abc"},
                                {"Offset", "", "-3"},
                                {"Big", "", "99999999999"},
                                {"Mixed", "", "12ab"},
                                {"file", "fw.bin", "x"}});
    EXPECT_EQ(onlyPostCall()["body"],
              R"({"Force":true,"Verify":false,"Count":3,"Name":"abc","Offset":"-3",)"
              R"("Big":"99999999999","Mixed":12,"absoluteFilePath":")" +
                  uploads() + R"(fw.bin"})");
}

TEST_F(UploadTest, LongFieldValuesArriveWhole) {
    const std::string value(40000, 'v'); // more than one piece of the form parser
    upload(kSpdm, {{"Blob", "", value}, {"file", "d.bin", "x"}});
    EXPECT_EQ(argumentOf(onlyPostCall())["Blob"], value);
}

TEST_F(UploadTest, OnlyRestoreCarriesALogFilePath) {
    upload(kRestore, {{"file", "backup.cfg", "cfg"}});
    nlohmann::json argument = argumentOf(onlyPostCall());
    EXPECT_EQ(argument["logFilePath"], tree->logDir + "RestoreConfiguration.log");
    EXPECT_EQ(argument["absoluteFilePath"], uploads() + "backup.cfg");
    for (const char* target : {poste2e::kFirmware, kSpdm, kMicrocode}) {
        tree->clearCalls();
        upload(target, {{"file", "x.bin", "x"}});
        EXPECT_FALSE(argumentOf(onlyPostCall()).contains("logFilePath")) << target;
    }
}

TEST_F(UploadTest, LeftoverFileIsReplaced) {
    std::filesystem::create_directories(uploads());
    ts::writeFile(uploads() + "fw.bin", "OLD IMAGE FROM A FAILED REQUEST");
    chmod((uploads() + "fw.bin").c_str(), 0666);
    upload(poste2e::kFirmware, {{"file", "fw.bin", "NEW"}});
    nlohmann::json call = onlyPostCall();
    EXPECT_EQ(call["fileContent"], "NEW");
    EXPECT_EQ(call["fileMode"], 0640);
    EXPECT_FALSE(ts::fileExists(uploads() + "fw.bin"));
}

TEST_F(UploadTest, RequestWithoutFileGetsAnEmptyPathAndDeletesNothing) {
    upload(poste2e::kFirmware, {{"file", "fw.bin", "first"}});
    ts::writeFile(uploads() + "keep.bin", "not ours to delete");
    tree->clearCalls();
    upload(poste2e::kFirmware, {{"Force", "", "true"}});
    EXPECT_EQ(onlyPostCall()["body"], R"({"Force":true,"absoluteFilePath":""})");
    EXPECT_EQ(ts::readFile(uploads() + "keep.bin"), "not ours to delete");
}

namespace {

std::vector<std::string> namesIn(const std::string& dir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (auto& entry : std::filesystem::directory_iterator(dir, ec))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

TEST_F(UploadTest, DotNamesAreNoFile) {
    const auto serverBefore = namesIn(tree->serverDir);
    const auto rootBefore = namesIn(tree->root);
    for (const char* clientName : {"..", ".", "C:\\images\\..", "images/.", "dir/", "a/..\\."}) {
        tree->clearCalls();
        ts::Response r = upload(poste2e::kFirmware, {{"file", clientName, "escape attempt"}});
        EXPECT_EQ(r.status, 200) << clientName;
        EXPECT_EQ(argumentOf(onlyPostCall())["absoluteFilePath"], "") << clientName;
        EXPECT_TRUE(uploadedNames().empty()) << clientName;
    }
    // Nothing was written beside the uploads directory either.
    auto serverAfter = namesIn(tree->serverDir);
    serverAfter.erase(std::remove(serverAfter.begin(), serverAfter.end(), "uploads"),
                      serverAfter.end());
    auto serverExpected = serverBefore;
    serverExpected.erase(std::remove(serverExpected.begin(), serverExpected.end(), "uploads"),
                         serverExpected.end());
    EXPECT_EQ(serverAfter, serverExpected);
    EXPECT_EQ(namesIn(tree->root), rootBefore);
}

TEST_F(UploadTest, ReplyWithoutStatusIsAServerErrorAndTheFileIsDeleted) {
    tree->setReply("POST", R"({"Data":{"a":1}})");
    ts::Response r = upload(poste2e::kFirmware, {{"file", "fw.bin", "x"}});
    EXPECT_EQ(r.status, 500);
    EXPECT_EQ(r.body, R"({"a":1})");
    EXPECT_TRUE(uploadedNames().empty());

    tree->setReply("POST", R"({"HttpStatus":1000,"Data":"x"})");
    r = upload(poste2e::kFirmware, {{"file", "fw.bin", "x"}});
    EXPECT_EQ(r.status, 500);
    EXPECT_TRUE(uploadedNames().empty());
}

TEST_F(UploadTest, NonJsonReplyIsAnInternalError) {
    tree->setReply("POST", "oops");
    ts::Response r = upload(kMicrocode, {{"file", "mc.bin", "x"}});
    EXPECT_EQ(r.raw, "HTTP/1.1 500 Internal Error\r\nContent-Type:application/json\r\n"
                     "Connection: keep-alive\r\n\r\nInternal Error");
    EXPECT_TRUE(uploadedNames().empty());
}

TEST_F(UploadTest, OversizedFieldIsRefusedWithoutAPluginCall) {
    ts::Response r = upload(poste2e::kFirmware,
                            {{"file", "fw.bin", "x"}, {"Blob", "", std::string(70000, 'b')}});
    EXPECT_EQ(r.status, 413);
    EXPECT_TRUE(callsOf("POST").empty());
    EXPECT_TRUE(uploadedNames().empty());
}

TEST_F(UploadTest, TooManyFieldsAreRefused) {
    std::vector<ts::FormPart> parts;
    for (int i = 0; i < 300; ++i)
        parts.push_back({"f" + std::to_string(i), "", "1"});
    EXPECT_EQ(upload(poste2e::kFirmware, parts).status, 413);
    EXPECT_TRUE(callsOf("POST").empty());
}

TEST_F(UploadTest, MalformedFormIsRefused) {
    std::vector<std::string> headers = {
        std::string("Content-Type: multipart/form-data; boundary=") + kBoundary,
        std::string("X-Auth-Token: ") + kToken};
    ts::Response r = ts::request(tree->port, "POST", poste2e::kFirmware, headers,
                                 "this is not a multipart body at all", tree->tls);
    EXPECT_EQ(r.status, 400);
    EXPECT_TRUE(callsOf("POST").empty());
}

TEST_F(UploadTest, UnauthorisedUploadStoresNothing) {
    ts::Response r = upload(poste2e::kFirmware, {{"file", "fw.bin", "x"}}, false);
    EXPECT_EQ(r.status, 401);
    EXPECT_EQ(r.body, "Unauthorized user");
    EXPECT_TRUE(callsOf("POST").empty());
    EXPECT_TRUE(uploadedNames().empty());
}

TEST_F(UploadTest, MultipartToOtherUrisIsForwardedRaw) {
    const std::vector<ts::FormPart> parts = {{"file", "fw.bin", "raw"}, {"a", "", "1"}};
    tree->setReply("POST", R"({"HttpStatus":200,"Data":{"seen":true}})");
    ts::Response r = upload("/redfish/v1/UpdateService/upload", parts);
    EXPECT_EQ(r.raw, "HTTP/1.1 200 Ok\r\nContent-Type:application/json\r\n"
                     "Connection: keep-alive\r\n\r\n{\"seen\":true}");
    nlohmann::json call = onlyPostCall();
    EXPECT_EQ(call["uri"], "/redfish/v1/UpdateService/upload");
    EXPECT_EQ(call["body"], ts::multipartBody(kBoundary, parts));
    EXPECT_TRUE(uploadedNames().empty());
    // No response record for this path.
    EXPECT_FALSE(contains(tree->traceLog(),
                          "Response HTTP Status  : 200, Ok\nHTTP Method           : "
                          "POST"));
}

TEST_F(UploadTest, ExpectContinueGetsTheInterimAnswer) {
    const std::string body = ts::multipartBody(kBoundary, {{"file", "fw.bin", "payload"}});
    const std::string head = "POST " + std::string(poste2e::kFirmware) +
                             " HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Auth-Token: " + kToken +
                             "\r\nContent-Type: multipart/form-data; boundary=" + kBoundary +
                             "\r\nContent-Length: " + std::to_string(body.size()) +
                             "\r\nExpect: 100-continue\r\nConnection: close\r\n\r\n";
    // The body goes out only after the interim answer, or after a minute
    // without one.
    std::string interim;
    const std::string rest =
        poste2e::exchangeExpectingContinue(tree->port, head, body, 60000, interim);
    EXPECT_EQ(interim, "HTTP/1.1 100 Continue\r\n\r\n");
    ts::Response r = ts::parseResponse(rest);
    EXPECT_EQ(r.statusLine, "HTTP/1.1 200 OK");
    EXPECT_EQ(r.header("Content-Type"), "application/json");
    EXPECT_EQ(r.header("Connection"), "keep-alive");
    EXPECT_TRUE(r.hasHeader("Date"));
    EXPECT_EQ(r.body, R"({"probe":"ok"})");
    EXPECT_EQ(onlyPostCall()["fileContent"], "payload");
}

TEST_F(UploadTest, EmptyFieldNameStopsTheForm) {
    upload(poste2e::kFirmware,
           {{"a", "", "1"}, {"", "", "x"}, {"b", "", "2"}, {"file", "fw.bin", "x"}});
    EXPECT_EQ(onlyPostCall()["body"], R"({"a":1,"absoluteFilePath":""})");
    EXPECT_TRUE(uploadedNames().empty());
}

TEST_F(UploadTest, LogLinesNameTheOperation) {
    upload(poste2e::kFirmware, {{"file", "fw.bin", "x"}});
    const std::string log = tree->capturedLog();
    EXPECT_TRUE(contains(log, "REDFISHSERVER:filepostoperationshandler.cpp:"));
    EXPECT_TRUE(contains(log, "RedfishServerHandler::handleFilePost()::[DEBUG]HTTP POST  request "
                              "received for URI = " +
                                  std::string(poste2e::kFirmware) + "\n"));
    EXPECT_TRUE(contains(log, "RedfishServerHandler::handleFilePost()::[DEBUG]size of request "
                              "parameters : 0\n"));
    EXPECT_TRUE(contains(log, "RedfishServerHandler::handleFilePost()::[DEBUG] Plugin Response: "
                              "{\"HttpStatus\":200,\"Data\":{\"probe\":\"ok\"}}"))
        << log;
}

TEST_F(UploadTest, PlainMultipartAnswerLinesNameTheUploadUnit) {
    tree->setReply("POST", R"({"HttpStatus":200,"Data":{"seen":true}})");
    upload("/redfish/v1/UpdateService/upload", {{"a", "", "1"}});
    const std::string log = tree->capturedLog();
    const size_t out = log.find(" Response OUT: {\"seen\":true}");
    ASSERT_NE(out, std::string::npos) << log;
    const size_t start = log.rfind('\n', out) + 1; // npos + 1 is the first line
    EXPECT_EQ(log.compare(start, 44, "REDFISHSERVER:filepostoperationshandler.cpp:"), 0)
        << log.substr(start, out - start);
    // Nothing of the upload's request names the plain POST's unit.
    const std::string upload = log.substr(log.rfind("handleFilePost()::[DEBUG]Entry"));
    EXPECT_FALSE(contains(upload, "REDFISHSERVER:postredfishhandler.cpp:")) << upload;
}

namespace {

// Open descriptors of a process.
size_t openDescriptors(pid_t pid) {
    size_t count = 0;
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec))
        ++count;
    return count;
}

std::string formRequest(int port, const std::string& contentType, const std::string& body) {
    return ts::requestText(port, "POST", poste2e::kFirmware,
                           {"Content-Type: " + contentType, std::string("X-Auth-Token: ") + kToken},
                           body);
}

} // namespace

TEST_F(UploadTest, CutShortFilePartsLeaveNoOpenDescriptor) {
    // The part holds less than the boundary and 4 bytes, and no closing
    // boundary follows: the form parser gives up with the file open.
    const std::string body = std::string("--") + kBoundary +
                             "\r\nContent-Disposition: form-data; name=\"file\"; "
                             "filename=\"short.bin\"\r\n\r\nab";
    const std::string bytes =
        formRequest(tree->port, std::string("multipart/form-data; boundary=") + kBoundary, body);
    ASSERT_EQ(ts::parseResponse(ts::exchange(tree->port, bytes)).status, 400);
    const size_t before = openDescriptors(server->pid);
    ASSERT_GT(before, 0u);
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(ts::parseResponse(ts::exchange(tree->port, bytes)).status, 400) << i;
    // The client reads each answer to the server's close: no socket is left.
    EXPECT_LE(openDescriptors(server->pid), before + 2);
    EXPECT_TRUE(callsOf("POST").empty());
    EXPECT_TRUE(uploadedNames().empty());
}

TEST_F(UploadTest, EpilogueAndContentTypeParametersAreAccepted) {
    const std::string b = kBoundary;
    const std::string body = ts::multipartBody(b, {{"file", "fw.bin", "IMAGE"}});
    const std::string plain = "multipart/form-data; boundary=" + b;
    const struct {
        const char* what;
        std::string contentType;
        std::string body;
    } cases[] = {
        {"epilogue", plain, body + "an epilogue\r\nof two lines\r\n"},
        {"no line end after the closing boundary", plain, body.substr(0, body.size() - 2)},
        {"parameter after the boundary", plain + "; charset=utf-8", body},
        {"parameter before the boundary", "multipart/form-data; charset=utf-8; boundary=" + b,
         body},
        {"quoted boundary", "multipart/form-data; boundary=\"" + b + "\"", body},
        {"quoted boundary and parameter", "multipart/form-data; boundary=\"" + b + "\" ; a=\"x;y\"",
         body},
        {"letter case and no blank", "Multipart/Form-Data;BOUNDARY=" + b, body},
    };
    for (const auto& c : cases) {
        tree->clearCalls();
        ts::Response r = ts::parseResponse(
            ts::exchange(tree->port, formRequest(tree->port, c.contentType, c.body)));
        EXPECT_EQ(r.status, 200) << c.what << "\n" << r.raw;
        const auto calls = callsOf("POST");
        EXPECT_EQ(calls.size(), 1u) << c.what;
        EXPECT_EQ(calls.empty() ? nlohmann::json() : calls[0]["fileContent"], "IMAGE") << c.what;
    }
}

TEST_F(UploadTest, NonUtf8FileNamesAreRefusedWithNothingStored) {
    const struct {
        const char* what;
        std::vector<ts::FormPart> parts;
    } cases[] = {
        {"invalid bytes", {{"file", "\xff\xfe.bin", "x"}}},
        {"overlong slash", {{"file", "fw\xc0\xaf.bin", "x"}}},
        {"surrogate", {{"file", "\xed\xa0\x80.bin", "x"}}},
        {"cut short", {{"file", "fw.bin\xe2\x82", "x"}}},
        {"percent-encoded byte", {{"file", "%FF.bin", "x"}}},
        {"second file", {{"file", "good.bin", "x"}, {"file2", "bad\xff.bin", "y"}}},
    };
    for (const auto& c : cases) {
        tree->clearCalls();
        EXPECT_EQ(upload(poste2e::kFirmware, c.parts).status, 400) << c.what;
        EXPECT_TRUE(callsOf("POST").empty()) << c.what;
        EXPECT_TRUE(uploadedNames().empty()) << c.what;
    }
    // Valid UTF-8 beyond ASCII is a name like any other.
    tree->clearCalls();
    EXPECT_EQ(upload(poste2e::kFirmware, {{"file", "fw-\xc3\xbc\xe2\x82\xac.bin", "x"}}).status,
              200);
    EXPECT_EQ(argumentOf(onlyPostCall())["absoluteFilePath"],
              uploads() + "fw-\xc3\xbc\xe2\x82\xac.bin");
}

namespace {

constexpr long long kSmallUploadCap = 64 * 1024;

class UploadCapTest : public UploadTest {
  protected:
    ts::InstallOptions installOptions() override {
        ts::InstallOptions o = UploadTest::installOptions();
        o.extraConfig = "\"MaximumUploadSize\": " + std::to_string(kSmallUploadCap);
        return o;
    }
};

} // namespace

TEST_F(UploadCapTest, UploadPastTheCapIsRefusedUnreadAndDeleted) {
    ts::Response r =
        upload(poste2e::kFirmware, {{"file", "fw.bin", std::string(kSmallUploadCap, 'a')}});
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(onlyPostCall()["fileContent"].get<std::string>().size(), kSmallUploadCap);

    tree->clearCalls();
    r = upload(poste2e::kFirmware, {{"file", "fw.bin", std::string(kSmallUploadCap + 1, 'a')}});
    EXPECT_EQ(r.status, 413);
    EXPECT_EQ(nlohmann::json::parse(r.body, nullptr, false)["error"]["code"],
              "Base.1.0.GeneralError")
        << r.body;
    EXPECT_TRUE(callsOf("POST").empty());
    EXPECT_TRUE(uploadedNames().empty());

    // A 200 MiB upload is answered once the cap is passed: the client has
    // sent only 256 KiB of it when the answer comes.
    const std::string head = std::string("--") + kBoundary +
                             "\r\nContent-Disposition: form-data; name=\"file\"; "
                             "filename=\"huge.bin\"\r\n\r\n";
    const std::string bytes = std::string("POST ") + poste2e::kFirmware +
                              " HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Auth-Token: " + kToken +
                              "\r\nContent-Type: multipart/form-data; boundary=" + kBoundary +
                              "\r\nContent-Length: " + std::to_string(200ll * 1024 * 1024) +
                              "\r\nConnection: close\r\n\r\n" + head + std::string(256 * 1024, 'h');
    r = ts::parseResponse(ts::exchange(tree->port, bytes, false, 5000));
    EXPECT_EQ(r.status, 413) << r.raw;
    EXPECT_TRUE(callsOf("POST").empty());
    EXPECT_TRUE(uploadedNames().empty());
}
