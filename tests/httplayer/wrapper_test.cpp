// The wrapper's other members: construction failure, ports, registration
// and removal, request-data helpers, URL coding, close.
#include <gtest/gtest.h>

#include <atomic>

#include "hostkit.h"

using hostkit::bodyOf;
using hostkit::exchange;

namespace {

std::string get(int port, const std::string& target, const std::string& headers = "") {
    return hostkit::exchange(port, "GET " + target + " HTTP/1.1\r\nHost: x\r\n" + headers +
                                       "Connection: close\r\n\r\n");
}

} // namespace

TEST(Wrapper, ConstructionFailureThrowsWithTheEngineText) {
    hostkit::TestHost keepsLibraryReady; // the library is initialised once
    ts::PortHolder busy;
    const std::vector<std::string> options = {"listening_ports",
                                              "127.0.0.1:" + std::to_string(busy.port)};
    try {
        CivetServer server(options);
        FAIL() << "constructed on a busy port";
    } catch (const CivetException& e) {
        const std::string message = e.what();
        const std::string prefix = "null context when constructing CivetServer. Possible problem "
                                   "binding to port. Error: ";
        ASSERT_EQ(message.compare(0, prefix.size(), prefix), 0) << message;
        EXPECT_GT(message.size(), prefix.size()) << "the engine's error text follows";
        EXPECT_LE(message.size(), prefix.size() + 255);
    }
    // Copies keep the message.
    CivetException original("text");
    CivetException copy(original);
    CivetException moved(std::move(copy));
    EXPECT_STREQ(moved.what(), "text");
}

TEST(Wrapper, UnknownOptionIsAConstructionFailure) {
    hostkit::TestHost keepsLibraryReady;
    const char* options[] = {"no_such_option", "1", nullptr};
    EXPECT_THROW(CivetServer server(options), CivetException);
}

TEST(Wrapper, PortsUserContextAndClose) {
    hostkit::TestHost host;
    CivetServer& server = host.server();
    const std::vector<int> ports = server.getListeningPorts();
    ASSERT_EQ(ports.size(), 1u);
    EXPECT_EQ(ports[0], host.port());
    const std::vector<struct mg_server_port> full = server.getListeningPortsFull();
    ASSERT_EQ(full.size(), 1u);
    EXPECT_EQ(full[0].port, host.port());
    EXPECT_EQ(full[0].is_ssl, 0);
    EXPECT_EQ(server.getUserContext(), &host);
    ASSERT_NE(server.getContext(), nullptr);

    server.close();
    EXPECT_EQ(server.getContext(), nullptr);
    server.close(); // a second close is harmless
    EXPECT_EQ(get(host.port(), "/redfish"), "") << "still answering after close";
}

TEST(Wrapper, HandlersCanBeRemoved) {
    hostkit::TestHost host;
    struct Hello : CivetHandler {
        bool handleGet(CivetServer*, struct mg_connection* conn) override {
            hostkit::answer(conn, 200, "hello");
            return true;
        }
    } hello;
    host.server().addHandler("/hello", &hello);
    EXPECT_EQ(bodyOf(get(host.port(), "/hello")), "hello");
    host.server().removeHandler("/hello");
    EXPECT_EQ(hostkit::statusOf(get(host.port(), "/hello")), 404);
}

TEST(Wrapper, AuthHandlerDecides) {
    hostkit::TestHost host;
    struct Hello : CivetHandler {
        bool handleGet(CivetServer*, struct mg_connection* conn) override {
            hostkit::answer(conn, 200, "inside");
            return true;
        }
    } hello;
    struct Gate : CivetAuthHandler {
        bool authorize(CivetServer*, struct mg_connection* conn) override {
            const char* key = CivetServer::getHeader(conn, "X-Key");
            if (key != nullptr && std::string(key) == "open")
                return true;
            hostkit::answer(conn, 403, "refused");
            return false;
        }
    } gate;
    host.server().addHandler("/area", hello);
    host.server().addAuthHandler("/area", gate);
    EXPECT_EQ(bodyOf(get(host.port(), "/area", "X-Key: open\r\n")), "inside");
    EXPECT_EQ(bodyOf(get(host.port(), "/area", "X-Key: shut\r\n")), "refused");
    host.server().removeAuthHandler("/area");
    EXPECT_EQ(bodyOf(get(host.port(), "/area")), "inside");
}

TEST(Wrapper, RequestDataHelpers) {
    hostkit::TestHost host;
    struct Echo : CivetHandler {
        bool handleGet(CivetServer*, struct mg_connection* conn) override {
            std::string a, second, missing, cookie, none;
            const bool hasA = CivetServer::getParam(conn, "a", a);
            CivetServer::getParam(conn, "a", second, 1);
            const bool hasMissing = CivetServer::getParam(conn, "zz", missing);
            const int cookieLen = CivetServer::getCookie(conn, "session", cookie);
            const int noneLen = CivetServer::getCookie(conn, "absent", none);
            const char* agent = CivetServer::getHeader(conn, "user-agent");
            hostkit::answer(conn, 200,
                            std::string(CivetServer::getMethod(conn)) + "|" + std::to_string(hasA) +
                                a + "|" + second + "|" + std::to_string(hasMissing) + "|" +
                                std::to_string(cookieLen) + cookie + "|" + std::to_string(noneLen) +
                                none + "|" + (agent ? agent : "-"));
            return true;
        }
    } echo;
    host.server().addHandler("/echo", echo);
    const std::string longValue(5000, 'c'); // longer than any fixed buffer
    const std::string response =
        get(host.port(), "/echo?a=one%20two&b=2&a=x+y",
            "User-Agent: probe/1\r\nCookie: theme=dark; session=" + longValue + "\r\n");
    EXPECT_EQ(bodyOf(response), "GET|1one two|x y|0|5000" + longValue + "|-1|probe/1");
}

TEST(Wrapper, ParamFromDataGrowsForLongValues) {
    const std::string value(1000, 'v');
    std::string out;
    EXPECT_TRUE(CivetServer::getParam("k=" + value + "&e=", "k", out));
    EXPECT_EQ(out, value);
    EXPECT_TRUE(CivetServer::getParam(std::string("k=1&e="), "e", out));
    EXPECT_EQ(out, "");
    out = "stale";
    EXPECT_FALSE(CivetServer::getParam(std::string("k=1"), "x", out));
    EXPECT_EQ(out, "");
}

TEST(Wrapper, UrlDecode) {
    std::string out;
    CivetServer::urlDecode("a%20b+c%2Fd%zz%4", out);
    EXPECT_EQ(out, "a b c/d%zz%4");
    CivetServer::urlDecode("a+b%2b", out, false);
    EXPECT_EQ(out, "a+b+");
    CivetServer::urlDecode(std::string("x%00y", 5), out);
    EXPECT_EQ(out, std::string("x\0y", 3));
    CivetServer::urlDecode("%41%42trailing", 6, out);
    EXPECT_EQ(out, "AB");
}

TEST(Wrapper, UrlEncode) {
    std::string out;
    CivetServer::urlEncode("Az09._-$,;~() /?&=\xc3\xa9", out);
    EXPECT_EQ(out, "Az09._-$,;~()%20%2f%3f%26%3d%c3%a9");
    CivetServer::urlEncode(std::string("a\0b", 3), out);
    EXPECT_EQ(out, "a%00b");
    out = "pre-";
    CivetServer::urlEncode("x y", out, true);
    EXPECT_EQ(out, "pre-x%20y");
    CivetServer::urlEncode("abc", 2, out);
    EXPECT_EQ(out, "ab");
}

TEST(Wrapper, CallbacksStartZeroed) {
    CivetCallbacks callbacks;
    const unsigned char* bytes =
        reinterpret_cast<const unsigned char*>(static_cast<const mg_callbacks*>(&callbacks));
    for (size_t i = 0; i < sizeof(mg_callbacks); ++i)
        ASSERT_EQ(bytes[i], 0) << i;
}

TEST(Wrapper, UserCloseCallbackRunsForEveryConnection) {
    static std::atomic<int> closed{0};
    closed = 0;
    CivetCallbacks callbacks;
    callbacks.connection_close = [](const struct mg_connection*) { ++closed; };
    hostkit::TestHost host; // initialises the library
    const std::vector<std::string> options = {"listening_ports", "127.0.0.1:0"};
    CivetServer server(options, &callbacks);
    const int port = server.getListeningPorts().at(0);
    struct Ok : CivetHandler {
        bool handleGet(CivetServer*, struct mg_connection* conn) override {
            hostkit::answer(conn, 200, "ok");
            return true;
        }
    } ok;
    server.addHandler("/ok", ok);
    EXPECT_EQ(bodyOf(get(port, "/ok")), "ok");
    EXPECT_EQ(bodyOf(get(port, "/ok")), "ok");
    server.close();
    EXPECT_EQ(closed.load(), 2);
}
