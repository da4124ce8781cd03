// The method override: a header line that starts with the exact text
// "X-HTTP-Method-Override: PATCH" or "... DELETE" replaces the method before
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

namespace {

struct OverrideCase {
    const char* what;
    const char* requestLine;
    const char* headers;
    const char* expected; // operation|method|override header
};

// The override is a header line of its own that starts with the exact text;
// PATCH wins over DELETE. The same text anywhere else (another header's
// value, a folded line) changes nothing: a page on another site can put text
// into a Referer, never a header of its own.
const OverrideCase kOverrideCases[] = {
    {"patch", kPost, "X-HTTP-Method-Override: PATCH\r\n", "handlePatch|PATCH|PATCH"},
    {"delete", kPost, "X-HTTP-Method-Override: DELETE\r\n", "handleDelete|DELETE|DELETE"},
    {"both, patch wins", kPost,
     "X-HTTP-Method-Override: DELETE\r\nX-HTTP-Method-Override: PATCH\r\n",
     "handlePatch|PATCH|DELETE"},
    {"get turned to patch", kGet, "X-HTTP-Method-Override: PATCH\r\n", "handlePatch|PATCH|PATCH"},
    {"get turned to delete", kGet, "X-HTTP-Method-Override: DELETE\r\n",
     "handleDelete|DELETE|DELETE"},
    {"longer value", kPost, "X-HTTP-Method-Override: PATCHES\r\n", "handlePatch|PATCH|PATCHES"},
    {"longer value delete", kPost, "X-HTTP-Method-Override: DELETEME\r\n",
     "handleDelete|DELETE|DELETEME"},
    {"bare line feed ends the line before", kPost, "X-A: 1\nX-HTTP-Method-Override: DELETE\r\n",
     "handleDelete|DELETE|DELETE"},
    {"small letters in the name", kPost, "x-http-method-override: PATCH\r\n",
     "handlePost|POST|PATCH"},
    {"no blank", kPost, "X-HTTP-Method-Override:PATCH\r\n", "handlePost|POST|PATCH"},
    {"two blanks", kPost, "X-HTTP-Method-Override:  DELETE\r\n", "handlePost|POST|DELETE"},
    {"small letters in the value", kPost, "X-HTTP-Method-Override: patch\r\n",
     "handlePost|POST|patch"},
    {"other value", kPost, "X-HTTP-Method-Override: PUT\r\n", "handlePost|POST|PUT"},
    {"cross-site referer", kGet, "Referer: https://x.example/X-HTTP-Method-Override: DELETE\r\n",
     "handleGet|GET|-"},
    {"inside another value", kPost, "X-Note: see X-HTTP-Method-Override: PATCH here\r\n",
     "handlePost|POST|-"},
    {"value ending in the text", kGet, "X-Note: X-HTTP-Method-Override: DELETE\r\n",
     "handleGet|GET|-"},
};

} // namespace

TEST_F(Override, OnlyAHeaderOfItsOwnOverridesTheMethod) {
    for (const OverrideCase& c : kOverrideCases)
        EXPECT_EQ(send(c.requestLine, c.headers), c.expected) << c.what;
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
