// 64 clients at once against the program with the bundled plug-ins, each
// doing a mix of service root reads, plug-in reads, drive changes, uploads
// and now and then a login, for $TOLVANE_SOAK_SECONDS (default 8). Every
// answer must be whole and carry the expected status; the server must live
// through it and its resident memory must stop growing.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <random>

#include <gtest/gtest.h>

#include "imageformat.h"
#include "reliability.h"

namespace {

using Json = nlohmann::json;

constexpr int kClients = 64;
constexpr int kMaxSoakLogins = 12; // both session tables keep 64; logins hold the lock long
constexpr int kRequestTimeoutMs = 30000;
using rel::kDrives;
const std::string kFirmwareAction =
    "/redfish/v1/Systems/1/Storage/1/Actions/Oem/Veltrano.InstallOrUpgradeFirmware";

int soakSeconds() {
    const char* env = std::getenv("TOLVANE_SOAK_SECONDS");
    int seconds = env ? std::atoi(env) : 0;
    return seconds > 0 ? seconds : 8;
}

Json parsed(const std::string& raw) {
    size_t end = raw.find("\r\n\r\n");
    if (end == std::string::npos)
        return Json();
    return Json::parse(raw.substr(end + 4), nullptr, false);
}

struct SoakContext {
    int port = 0;
    std::string password;
    std::string adminToken;
    std::string image;
    std::chrono::steady_clock::time_point end;
    std::atomic<int> logins{0};
    std::atomic<long> requests{0};
    rel::Failures failures;
};

// One request; "" when the answer is whole, has `expected` as its status
// and passes `check`, otherwise what was wrong.
template <typename Check>
std::string expectAnswer(const SoakContext& ctx, const std::string& what,
                         const std::string& request, int expected, Check check) {
    rel::Exchange ex = rel::roundTrip(ctx.port, request, kRequestTimeoutMs);
    if (!ex.connected)
        return what + ": no connection";
    std::string wrong = rel::malformation(ex.raw);
    if (!wrong.empty())
        return what + ": malformed answer (" + wrong + (ex.timedOut ? ", timed out" : "") +
               "): " + ex.raw.substr(0, 200);
    int status = rel::statusOf(ex.raw);
    if (status != expected)
        return what + ": status " + std::to_string(status) + ": " + ex.raw.substr(0, 300);
    return check(ex.raw) ? std::string() : what + ": unexpected body: " + ex.raw.substr(0, 300);
}

void soakClient(SoakContext& ctx, int index) {
    std::mt19937 rng(static_cast<unsigned>(index) * 7919u + 17u);
    std::uniform_int_distribution<int> pick(0, 99);
    std::string token = ctx.adminToken;
    const std::string fileName = "soak-" + std::to_string(index) + ".img";
    while (std::chrono::steady_clock::now() < ctx.end) {
        const int roll = pick(rng);
        const int drive = static_cast<int>(rng() % 4);
        const std::string driveUri = kDrives + std::to_string(drive);
        std::string problem;
        if (roll < 30) {
            problem =
                expectAnswer(ctx, "service root", rel::requestText(ctx.port, "GET", "/redfish/v1"),
                             200, [](const std::string& raw) {
                                 return raw.size() - (raw.find("\r\n\r\n") + 4) == 756 &&
                                        parsed(raw).value("Id", "") == "RootService";
                             });
        } else if (roll < 65) {
            problem = expectAnswer(
                ctx, "GET " + driveUri,
                rel::requestText(ctx.port, "GET", driveUri, {"X-Auth-Token: " + token}), 200,
                [&](const std::string& raw) {
                    return parsed(raw).value("@odata.id", "") == driveUri;
                });
        } else if (roll < 85) {
            const bool on = (rng() & 1) != 0;
            const std::string body = Json{{"LocationIndicatorActive", on}}.dump();
            problem = expectAnswer(
                ctx, "PATCH " + driveUri,
                rel::requestText(ctx.port, "PATCH", driveUri,
                                 {"X-Auth-Token: " + token, "Content-Type: application/json"},
                                 body),
                200, [&](const std::string& raw) {
                    Json j = parsed(raw);
                    return j.is_object() && j.value("LocationIndicatorActive", !on) == on;
                });
        } else if (roll < 95 || ctx.logins.fetch_add(1) >= kMaxSoakLogins) {
            const std::string boundary = "soakboundary" + std::to_string(index);
            const std::string body = ts::multipartBody(
                boundary, {{"AllowDowngrade", "", "true"}, {"UpdateFile", fileName, ctx.image}});
            problem = expectAnswer(
                ctx, "upload",
                rel::requestText(ctx.port, "POST", kFirmwareAction,
                                 {"X-Auth-Token: " + token,
                                  "Content-Type: multipart/form-data; boundary=" + boundary},
                                 body),
                200, [](const std::string& raw) { return parsed(raw).is_object(); });
        } else {
            std::string newToken;
            problem = expectAnswer(
                ctx, "login",
                rel::requestText(ctx.port, "POST", "/redfish/v1/SessionService/Sessions",
                                 {"Content-Type: application/json"},
                                 Json{{"UserName", "admin"}, {"Password", ctx.password}}.dump()),
                201, [&](const std::string& raw) {
                    newToken = ts::parseResponse(raw).header("X-Auth-Token");
                    return !newToken.empty();
                });
            // This client goes on with its own session.
            if (problem.empty())
                token = newToken;
        }
        ++ctx.requests;
        if (!problem.empty())
            ctx.failures.add(problem);
    }
}

} // namespace

TEST(Soak, MixedClientsGetWholeAnswers) {
    // Every client logs in as the administrator: more sessions than one
    // account holds by default.
    ts::BundledServer s(ts::bundled("", false, "\"MaximumSessionsPerAccount\": 64"));
    ASSERT_EQ(s.start(), "");
    SoakContext ctx;
    ctx.port = s.tree.port;
    ctx.password = s.password();
    ASSERT_FALSE(ctx.password.empty());
    ctx.adminToken = s.login("admin", ctx.password);
    ASSERT_FALSE(ctx.adminToken.empty());
    ts::Response controller =
        s.send("GET", "/redfish/v1/Systems/1/Storage/1/Controllers/0", ctx.adminToken);
    ASSERT_EQ(controller.status, 200) << controller.raw;
    const std::string model = Json::parse(controller.body).value("Model", "");
    ASSERT_FALSE(model.empty());
    ctx.image = tolvane::plugin::buildImage("Firmware", model, "3.1.4", "soak test payload");

    const int seconds = soakSeconds();
    ctx.end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    std::vector<std::thread> clients;
    for (int i = 0; i < kClients; ++i)
        clients.emplace_back(soakClient, std::ref(ctx), i);
    for (auto& t : clients)
        t.join();

    EXPECT_EQ(ctx.failures.count(), 0u) << ctx.failures.summary();
    ASSERT_TRUE(s.server->running()) << "the server died: " << s.server->output();
    EXPECT_EQ(s.send("GET", "/redfish/v1", "").status, 200);
    EXPECT_EQ(s.send("GET", kDrives + "0", ctx.adminToken).status, 200);
    // Nothing of the uploads stays behind.
    EXPECT_TRUE(std::filesystem::is_empty(s.tree.serverDir + "uploads") ||
                !std::filesystem::exists(s.tree.serverDir + "uploads"));
    RecordProperty("requests", static_cast<int>(ctx.requests.load()));
    std::cout << "soak: " << ctx.requests.load() << " requests in " << seconds << " s by "
              << kClients << " clients\n";
}
