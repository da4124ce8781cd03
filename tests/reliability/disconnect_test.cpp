// Clients that leave in the middle of a large answer (a file answer of a few
// MB, a large JSON body): the server notices the broken connection, does not
// crash, and answers the next request whole.
#include <gtest/gtest.h>

#include "reliability.h"

namespace {

using rel::kAuth;
using rel::kToken;

// Sends `request`, reads about `keep` bytes, then closes: with a reset when
// `abort`, else in order (FIN) with the rest unread.
std::string readSomeAndLeave(int port, const std::string& request, size_t keep, bool abort) {
    ts::ConnectOptions o;
    o.timeoutMs = 20000;
    o.receiveBuffer = 4096; // keeps most of the answer in the server's hands
    ts::Connection c(port, o);
    const std::string got = c.send(request) ? c.readAtLeast(keep, 20000) : "";
    if (abort)
        c.abort();
    return got;
}

} // namespace

TEST(Disconnect, ClientsLeavingMidAnswerDoNotHurtTheServer) {
    ts::InstallTree tree;
    // A file answer of 6 MB and a JSON answer of 3 MB.
    std::string file(6 * 1024 * 1024, '\0');
    for (size_t i = 0; i < file.size(); ++i)
        file[i] = static_cast<char>((i * 131 + i / 4096) & 0xff);
    const std::string filePath = tree.root + "large-answer.bin";
    ts::writeFile(filePath, file);
    nlohmann::json fileAnswer{
        {"HttpStatus", 200},
        {"Data", {{"contentType", "application/octet-stream"}, {"fileName", filePath}}}};
    tree.setReply("POST /redfish/v1/Systems/1/Actions/Oem/Export", fileAnswer.dump());
    const std::string bigText(3 * 1024 * 1024, 'j');
    nlohmann::json jsonAnswer{{"HttpStatus", 200}, {"Data", {{"Blob", bigText}}}};
    tree.setReply("GET /redfish/v1/Systems/1/Blob", jsonAnswer.dump());
    tree.setReply("POST /redfish/v1/SessionService/Sessions",
                  rel::scriptedLoginReply(kToken, "/redfish/v1/SessionService/Sessions/1"));

    ts::ServerProcess server(tree);
    ASSERT_TRUE(server.waitReady()) << server.output();
    ASSERT_EQ(ts::request(tree.port, "POST", "/redfish/v1/SessionService/Sessions",
                          {"Content-Type: application/json"}, "{}")
                  .status,
              201);

    const std::string fileRequest =
        rel::requestText(tree.port, "POST", "/redfish/v1/Systems/1/Actions/Oem/Export",
                         {kAuth, "Content-Type: application/json"}, "{}");
    const std::string jsonRequest =
        rel::requestText(tree.port, "GET", "/redfish/v1/Systems/1/Blob", {kAuth});
    for (int round = 0; round < 6; ++round) {
        const std::string& request = round % 2 == 0 ? fileRequest : jsonRequest;
        const bool abort = round % 3 == 1;
        std::string got = readSomeAndLeave(tree.port, request, 64, abort);
        // What came before the client left is the start of a proper answer.
        EXPECT_EQ(got.compare(0, 15, "HTTP/1.1 200 Ok"), 0) << "round " << round << ": " << got;
        // The next request is answered whole, at once.
        rel::Exchange next =
            rel::roundTrip(tree.port, rel::requestText(tree.port, "GET", "/redfish/v1"), 15000);
        ASSERT_EQ(rel::statusOf(next.raw), 200)
            << "round " << round << ": " << next.raw << server.output();
        EXPECT_EQ(ts::parseResponse(next.raw).body.size(), 756u);
        ASSERT_TRUE(server.running()) << server.output();
    }

    // The large answers still come out whole, byte for byte.
    rel::Exchange whole = rel::roundTrip(tree.port, fileRequest, 60000);
    ts::Response r = ts::parseResponse(whole.raw);
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.header("Content-Type"), "application/octet-stream");
    EXPECT_EQ(r.body.size(), file.size());
    EXPECT_TRUE(r.body == file) << "the file answer differs from the file";
    EXPECT_EQ(ts::readFile(filePath).size(), file.size()) << "the file answer's file was touched";
    rel::Exchange json = rel::roundTrip(tree.port, jsonRequest, 60000);
    ts::Response j = ts::parseResponse(json.raw);
    EXPECT_EQ(j.status, 200);
    const std::string expectedJson = nlohmann::json{{"Blob", bigText}}.dump();
    EXPECT_EQ(j.body, expectedJson);
    EXPECT_TRUE(server.running());
}
