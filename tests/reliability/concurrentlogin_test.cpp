// 50 clients log in at the same moment: each gets a session of its own, and
// each token then opens the door for its holder. Logins run one at a time by
// design (the password hash is deliberately slow), so the bound is generous.
#include <iostream>
#include <set>

#include <gtest/gtest.h>

#include "reliability.h"

namespace {

constexpr int kLogins = 50;

struct LoginResult {
    int status = -1;
    std::string token;
    std::string location;
    std::string problem;
};

} // namespace

TEST(ConcurrentLogins, FiftyLoginsEachGetTheirOwnWorkingToken) {
    // Fifty sessions of one account: more than an account holds by default.
    ts::BundledServer s(ts::bundled("", true, "\"MaximumSessionsPerAccount\": 64"));
    ASSERT_EQ(s.start(), "");
    const std::string password = s.password();
    ASSERT_FALSE(password.empty());

    std::vector<LoginResult> results(kLogins);
    std::atomic<int> ready{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> clients;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kLogins; ++i) {
        clients.emplace_back([&, i] {
            ++ready;
            while (!go.load())
                std::this_thread::yield();
            nlohmann::json body{{"UserName", "admin"}, {"Password", password}};
            const std::string raw = ts::exchange(
                s.tree.port,
                rel::requestText(s.tree.port, "POST", "/redfish/v1/SessionService/Sessions",
                                 {"Content-Type: application/json"}, body.dump()),
                true, 90000);
            LoginResult& r = results[static_cast<size_t>(i)];
            r.problem = rel::malformation(raw);
            ts::Response answer = ts::parseResponse(raw);
            r.status = answer.status;
            r.token = answer.header("X-Auth-Token");
            r.location = answer.header("Location");
        });
    }
    while (ready.load() < kLogins)
        std::this_thread::yield();
    go = true;
    for (auto& t : clients)
        t.join();
    const int64_t loginMs = rel::millisSince(start);
    std::cout << "50 concurrent logins took " << loginMs << " ms\n";

    std::set<std::string> tokens;
    std::set<std::string> locations;
    for (int i = 0; i < kLogins; ++i) {
        const LoginResult& r = results[static_cast<size_t>(i)];
        EXPECT_EQ(r.problem, "") << "login " << i;
        EXPECT_EQ(r.status, 201) << "login " << i;
        EXPECT_FALSE(r.token.empty()) << "login " << i;
        tokens.insert(r.token);
        locations.insert(r.location);
    }
    EXPECT_EQ(tokens.size(), static_cast<size_t>(kLogins)) << "tokens were handed out twice";
    EXPECT_EQ(locations.size(), static_cast<size_t>(kLogins)) << "sessions were shared";

    // Every token works on its own, also when all are used at once.
    std::vector<int> statuses(kLogins, -1);
    clients.clear();
    for (int i = 0; i < kLogins; ++i) {
        clients.emplace_back([&, i] {
            statuses[static_cast<size_t>(i)] =
                s.send("GET", "/redfish/v1/Systems/1", results[static_cast<size_t>(i)].token)
                    .status;
        });
    }
    for (auto& t : clients)
        t.join();
    for (int i = 0; i < kLogins; ++i)
        EXPECT_EQ(statuses[static_cast<size_t>(i)], 200) << "token of login " << i;

    // A token nobody was given still opens nothing.
    EXPECT_EQ(s.send("GET", "/redfish/v1/Systems/1", "not-a-token").status, 401);
    EXPECT_TRUE(s.server->running());
}
