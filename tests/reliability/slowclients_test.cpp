// 40 clients trickle their JSON bodies a byte at a time while another client
// reads a plug-in resource: the read is answered while they still send,
// because no slow sender holds the process-wide handler lock. Each slow
// client's body then reaches the plug-in whole.
#include <iostream>
#include <random>

#include <gtest/gtest.h>

#include "reliability.h"

namespace {

constexpr int kSlowClients = 40;
constexpr int kPromptMs = 5000;

struct SlowClient {
    std::string body;
    std::string raw;
    bool sentAll = false;
    std::chrono::steady_clock::time_point doneSending;
};

} // namespace

TEST(SlowClients, TricklingBodiesDoNotHoldUpOtherRequests) {
    ts::InstallTree tree;
    tree.setReply("POST /redfish/v1/SessionService/Sessions",
                  rel::scriptedLoginReply("slow-token", "/redfish/v1/SessionService/Sessions/1"));
    ts::ServerProcess server(tree);
    ASSERT_TRUE(server.waitReady()) << server.output();
    ts::Response login = ts::request(tree.port, "POST", "/redfish/v1/SessionService/Sessions",
                                     {"Content-Type: application/json"}, "{}");
    ASSERT_EQ(login.status, 201) << login.raw;
    const std::string auth = "X-Auth-Token: slow-token";

    std::vector<SlowClient> slow(kSlowClients);
    std::atomic<int> started{0};
    std::atomic<int> finishedSending{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < kSlowClients; ++i) {
        SlowClient& c = slow[static_cast<size_t>(i)];
        // About 70 bytes at 100 to 200 ms each: ten seconds of sending.
        c.body = "{\"Name\":\"slow-client-" + std::to_string(100 + i) +
                 "\",\"Note\":\"sent one byte at a time, slowly\"}";
        threads.emplace_back([&, i] {
            SlowClient& me = slow[static_cast<size_t>(i)];
            std::mt19937 rng(static_cast<unsigned>(i) + 1u);
            std::uniform_int_distribution<int> pause(100, 200);
            ts::ConnectOptions o;
            o.timeoutMs = 30000;
            ts::Connection c(tree.port, o);
            if (!c.connected()) {
                ++started;
                return;
            }
            bool ok = c.send("PATCH /redfish/v1/Systems/" + std::to_string(i) +
                             " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + auth +
                             "\r\nContent-Type: application/json\r\nContent-Length: " +
                             std::to_string(me.body.size()) + "\r\nConnection: close\r\n\r\n");
            for (size_t b = 0; ok && b < me.body.size(); ++b) {
                ok = c.send(me.body.substr(b, 1));
                if (b == 2)
                    ++started;
                // The trickle is the behaviour under test.
                std::this_thread::sleep_for(std::chrono::milliseconds(pause(rng)));
            }
            me.sentAll = ok;
            me.doneSending = std::chrono::steady_clock::now();
            ++finishedSending;
            me.raw = c.readAll(30000);
        });
    }
    // Every slow client has its head and a few body bytes out.
    ts::waitUntil([&] { return started.load() >= kSlowClients; }, 20000);
    ASSERT_EQ(started.load(), kSlowClients);

    // A plug-in read while they send: it needs the handler lock.
    rel::Exchange get = rel::roundTrip(
        tree.port, rel::requestText(tree.port, "GET", "/redfish/v1/Systems", {auth}), kPromptMs);
    const int stillSending = kSlowClients - finishedSending.load();
    EXPECT_EQ(rel::statusOf(get.raw), 200) << get.raw;
    EXPECT_GT(stillSending, 0) << "the slow clients were done before the read was answered";
    // The service root too.
    rel::Exchange root =
        rel::roundTrip(tree.port, rel::requestText(tree.port, "GET", "/redfish/v1"), kPromptMs);
    EXPECT_EQ(rel::statusOf(root.raw), 200) << root.raw;

    for (auto& t : threads)
        t.join();
    // Each slow body arrived whole and was answered whole.
    for (int i = 0; i < kSlowClients; ++i) {
        const SlowClient& c = slow[static_cast<size_t>(i)];
        EXPECT_TRUE(c.sentAll) << "client " << i;
        EXPECT_EQ(rel::malformation(c.raw), "") << "client " << i;
        ts::Response r = ts::parseResponse(c.raw);
        EXPECT_EQ(r.status, 200) << "client " << i << ": " << c.raw;
        nlohmann::json echo = nlohmann::json::parse(r.body, nullptr, false);
        ASSERT_TRUE(echo.is_object()) << c.raw;
        EXPECT_EQ(echo["body"], c.body) << "client " << i;
        EXPECT_EQ(echo["uri"], "/redfish/v1/Systems/" + std::to_string(i));
    }
    int patches = 0;
    for (auto& call : tree.calls())
        patches += call.value("entry", "") == "PATCH";
    EXPECT_EQ(patches, kSlowClients);
    EXPECT_TRUE(server.running());
}

namespace {
// A server of few workers whose scripted plug-in logs anyone in as `token`.
struct SmallServer {
    explicit SmallServer(const std::string& extraConfig, int unauthenticated = 256)
        : tree(options(extraConfig, unauthenticated)) {
        tree.setReply(
            "POST /redfish/v1/SessionService/Sessions",
            rel::scriptedLoginReply("small-token", "/redfish/v1/SessionService/Sessions/1"));
    }
    static ts::InstallOptions options(const std::string& extraConfig, int unauthenticated) {
        ts::InstallOptions o;
        o.unauthenticatedConnections = unauthenticated;
        o.extraConfig = "\"NumberOfWorkerThreads\": 8, " + extraConfig;
        return o;
    }
    ts::InstallTree tree;
};
} // namespace

// Connections from several addresses that never send a byte once held every
// worker until their head deadline, and a logged-in client waited for it.
TEST(SlowClients, IdleUnauthenticatedConnectionsLeaveWorkersToALoggedInClient) {
    SmallServer s("\"RequestHeadTimeout\": 60000", 4);
    ts::ServerProcess server(s.tree);
    ASSERT_TRUE(server.waitReady()) << server.output();
    std::vector<std::unique_ptr<ts::Connection>> idle;
    for (int i = 0; i < 24; ++i)
        idle.push_back(std::make_unique<ts::Connection>(
            s.tree.port, ts::fromAddress("127.0.0." + std::to_string(2 + i % 4))));
    const ts::Response r =
        ts::request(s.tree.port, "GET", "/redfish/v1/Systems", {"X-Auth-Token: small-token"});
    EXPECT_NE(r.status, -1) << "no worker was left for the client";
}

// Strangers from many addresses, each taking the place of another's waiting
// connection, once also pushed out the connection of a client that had
// logged in before: it could never log in again while they went on.
TEST(SlowClients, StrangersFromManyAddressesDoNotPushOutAClientThatLoggedIn) {
    SmallServer s("\"RequestHeadTimeout\": 60000", 2);
    ts::ServerProcess server(s.tree);
    ASSERT_TRUE(server.waitReady()) << server.output();
    const std::string get =
        ts::requestText(s.tree.port, "GET", "/redfish/v1/Systems", {"X-Auth-Token: small-token"});
    ASSERT_EQ(
        ts::request(s.tree.port, "POST", "/redfish/v1/SessionService/Sessions", {}, "{}").status,
        201);
    std::vector<std::unique_ptr<ts::Connection>> strangers; // the login alone made the client known
    auto stranger = [&](int i) {
        strangers.push_back(std::make_unique<ts::Connection>(
            s.tree.port, ts::fromAddress("127.0.0." + std::to_string(i))));
    };
    for (int i = 2; i < 4; ++i)
        stranger(i);
    ts::Connection mine(s.tree.port);
    for (int i = 4; i < 8; ++i)
        stranger(i);
    mine.send(get);
    EXPECT_EQ(ts::parseResponse(mine.readAll()).status, 200);
}

// A head that declares a body it never sends once had the body awaited (and
// buffered) before anyone asked who sent it. Unauthenticated requests are
// answered from the head; a login's body is small and due within the head
// deadline. Either way the connection ends without waiting for the body.
TEST(SlowClients, UnsentBodyOfAnUnauthenticatedRequestHoldsNoWorker) {
    SmallServer s("\"RequestHeadTimeout\": 2000");
    ts::ServerProcess server(s.tree);
    ASSERT_TRUE(server.waitReady()) << server.output();
    s.tree.clearCalls();
    const std::string login = "/redfish/v1/SessionService/Sessions";
    const struct {
        std::string target;
        int length;
        int status;
    } cases[] = {{"/redfish/v1/Systems", 1000, 401}, {login, 100000, 413}, {login, 100, 400}};
    for (const auto& c : cases) {
        const rel::Exchange ex = rel::roundTrip(
            s.tree.port,
            "POST " + c.target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: " +
                std::to_string(c.length) + "\r\nContent-Type: application/json\r\n\r\n",
            10000);
        EXPECT_FALSE(ex.timedOut) << c.target << " waited for its body";
        EXPECT_EQ(rel::statusOf(ex.raw), c.status) << c.target << ": " << ex.raw;
    }
    EXPECT_TRUE(s.tree.calls().empty());
}
