// The method override: the exact text "X-HTTP-Method-Override: PATCH" or
// "... DELETE" anywhere in the raw header block replaces the method before
// dispatch; the header stays visible.
#include <gtest/gtest.h>

#include "hostkit.h"

using hostkit::bodyOf;
using hostkit::exchange;

namespace {

// Answers "<operation>|<method>|<override header or ->".
class EchoHandler : public CivetHandler {
  public:
#define ECHO_OPERATION(name)                                                                       \
    bool name(CivetServer*, struct mg_connection* conn) override {                                 \
        echo(conn, #name);                                                                         \
        return true;                                                                               \
    }
    ECHO_OPERATION(handleGet)
    ECHO_OPERATION(handlePost)
    ECHO_OPERATION(handleFilePost)
    ECHO_OPERATION(handlePut)
    ECHO_OPERATION(handleDelete)
    ECHO_OPERATION(handlePatch)
#undef ECHO_OPERATION

  private:
    static void echo(struct mg_connection* conn, const char* operation) {
        const char* header = mg_get_header(conn, "X-HTTP-Method-Override");
        hostkit::answer(conn, 200,
                        std::string(operation) + "|" + CivetServer::getMethod(conn) + "|" +
                            (header ? header : "-"));
    }
};

class Override : public ::testing::Test {
  protected:
    void SetUp() override { host.server().addHandler("/redfish", handler); }

    std::string send(const std::string& requestLine, const std::string& headers,
                     const std::string& body = "") {
        std::string bytes = requestLine + "\r\nHost: localhost\r\n" + headers;
        bytes += "Content-Length: " + std::to_string(body.size()) + "\r\n";
        bytes += "Connection: close\r\n\r\n" + body;
        return bodyOf(exchange(host.port(), bytes));
    }

    hostkit::TestHost host;
    EchoHandler handler;
};

const char* const kPost = "POST /redfish/v1/Systems/1 HTTP/1.1";
const char* const kGet = "GET /redfish/v1/Systems/1 HTTP/1.1";

} // namespace

TEST_F(Override, PostWithPatchOrDeleteOverride) {
    EXPECT_EQ(send(kPost, "X-HTTP-Method-Override: PATCH\r\n", "{}"), "handlePatch|PATCH|PATCH");
    EXPECT_EQ(send(kPost, "X-HTTP-Method-Override: DELETE\r\n"), "handleDelete|DELETE|DELETE");
}

TEST_F(Override, PatchWinsWhenBothOccur) {
    EXPECT_EQ(send(kPost, "X-HTTP-Method-Override: DELETE\r\nX-HTTP-Method-Override: PATCH\r\n"),
              "handlePatch|PATCH|DELETE");
}

TEST_F(Override, TextMustMatchExactly) {
    // Small letters in the name, no blank, two blanks, small letters in the
    // value: nothing changes.
    EXPECT_EQ(send(kPost, "x-http-method-override: PATCH\r\n"), "handlePost|POST|PATCH");
    EXPECT_EQ(send(kPost, "X-HTTP-Method-Override:PATCH\r\n"), "handlePost|POST|PATCH");
    EXPECT_EQ(send(kPost, "X-HTTP-Method-Override:  DELETE\r\n"), "handlePost|POST|DELETE");
    EXPECT_EQ(send(kPost, "X-HTTP-Method-Override: patch\r\n"), "handlePost|POST|patch");
    EXPECT_EQ(send(kPost, "X-HTTP-Method-Override: PUT\r\n"), "handlePost|POST|PUT");
}

TEST_F(Override, LongerValuesAndTextInsideOtherHeadersMatch) {
    EXPECT_EQ(send(kPost, "X-HTTP-Method-Override: PATCHES\r\n"), "handlePatch|PATCH|PATCHES");
    EXPECT_EQ(send(kPost, "X-HTTP-Method-Override: DELETEME\r\n"), "handleDelete|DELETE|DELETEME");
    EXPECT_EQ(send(kPost, "X-Note: see X-HTTP-Method-Override: DELETE here\r\n"),
              "handleDelete|DELETE|-");
}

TEST_F(Override, TurnsGetToo) {
    EXPECT_EQ(send(kGet, "X-HTTP-Method-Override: PATCH\r\n"), "handlePatch|PATCH|PATCH");
    EXPECT_EQ(send(kGet, "X-HTTP-Method-Override: DELETE\r\n"), "handleDelete|DELETE|DELETE");
}

TEST_F(Override, BodyTextIsNotSearched) {
    EXPECT_EQ(send(kPost, "Content-Type: text/plain\r\n", "X-HTTP-Method-Override: PATCH\r\n"),
              "handlePost|POST|-");
}

TEST_F(Override, AppliesWhateverTheRequestLineNames) {
    // A method word the engine does not know is replaced before it is checked.
    EXPECT_EQ(send("BREW /redfish/v1/Pot HTTP/1.1", "X-HTTP-Method-Override: DELETE\r\n"),
              "handleDelete|DELETE|DELETE");
    // An upload POST becomes a PATCH, not an upload.
    EXPECT_EQ(send(kPost,
                   "Content-Type: multipart/form-data; boundary=b\r\n"
                   "X-HTTP-Method-Override: PATCH\r\n",
                   "--b--\r\n"),
              "handlePatch|PATCH|PATCH");
    // Without the override the unknown word is refused by the engine.
    const std::string refused = exchange(
        host.port(), "BREW /redfish/v1/Pot HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(hostkit::statusOf(refused), 400) << refused;
}
