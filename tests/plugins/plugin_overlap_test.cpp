// The resource plug-in called from many threads at once, as the server calls a
// plug-in that exports pluginCallsMayOverlap. Run under ThreadSanitizer too.
#include <atomic>
#include <chrono>
#include <functional>
#include <set>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "pluginharness.h"

#include "accounts.h"
#include "crypto.h"
#include "imageformat.h"

using namespace plugintest;

namespace {

const std::string kVolumes = "/redfish/v1/Systems/1/Storage/1/Volumes";
const std::string kDrives = "/redfish/v1/Chassis/1/Drives/";
const std::string kAccounts = "/redfish/v1/AccountService/Accounts";
const std::string kFirmware =
    "/redfish/v1/Systems/1/Storage/1/Actions/Oem/Veltrano.InstallOrUpgradeFirmware";
constexpr int kRounds = 3;

int loginStatus(const Call& c) {
    return c.reply.contains("response") ? c.reply["response"]["HttpStatus"].get<int>() : c.status;
}

// One kind of client: what it does in round `round`; a non-empty answer is
// a failure to report.
struct Client {
    const char* name;
    std::function<std::string(LoadedPlugin&, int round)> run;
};

std::string expectStatus(const char* what, const Call& c, int status) {
    const int got = loginStatus(c);
    return got == status ? ""
                         : std::string(what) + " answered " + std::to_string(got) + ": " + c.text;
}

// Volume clients each own one drive, so their creations never contend for
// drives; the last round's volume stays.
std::string volumeRound(LoadedPlugin& p, int drive, int round) {
    const std::string name = "v" + std::to_string(drive) + "r" + std::to_string(round);
    Json body = {{"RAIDType", "RAID0"},
                 {"Name", name},
                 {"Links", {{"Drives", {{{"@odata.id", kDrives + std::to_string(drive)}}}}}}};
    Call created = p.post(kVolumes, body);
    if (created.status != 201)
        return expectStatus("volume create", created, 201);
    const std::string uri = kVolumes + "/" + created.data["Id"].get<std::string>();
    std::string problem = expectStatus("volume PATCH", p.patch(uri, {{"Name", name}}), 200);
    if (problem.empty() && round + 1 < kRounds)
        problem = expectStatus("volume DELETE", p.del(uri), 200);
    return problem;
}

class PluginOverlap : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(plugin.initialize());
        admin = plugin.adminPassword();
        ASSERT_EQ(plugin
                      .post(kAccounts, {{"UserName", "operator1"},
                                        {"Password", "op-secret-0"},
                                        {"RoleId", "Operator"}})
                      .status,
                  201);
    }

    // Every client runs its rounds on a thread of its own, all released at once.
    std::vector<std::string> runTogether(const std::vector<Client>& clients) {
        std::atomic<size_t> ready{0};
        std::vector<std::string> problems(clients.size());
        std::vector<std::thread> threads;
        for (size_t i = 0; i < clients.size(); ++i) {
            threads.emplace_back([&, i] {
                ++ready;
                while (ready.load() < clients.size())
                    std::this_thread::yield();
                for (int round = 0; round < kRounds && problems[i].empty(); ++round) {
                    const std::string problem = clients[i].run(plugin, round);
                    if (!problem.empty())
                        problems[i] = std::string(clients[i].name) + ": " + problem;
                }
            });
        }
        for (auto& t : threads)
            t.join();
        return problems;
    }

    // What a fresh load must reproduce.
    Json snapshot() {
        return Json{
            {"Volumes", plugin.get(kVolumes + "?$expand=Members").data["Members"]},
            {"Accounts", plugin.get(kAccounts + "?$expand=Members").data["Members"]},
            {"Controller", plugin.get("/redfish/v1/Systems/1/Storage/1/Controllers/0").data}};
    }

    LoadedPlugin plugin;
    std::string admin;
};

TEST_F(PluginOverlap, EntryPointSaysCallsMayOverlap) {
    auto fn =
        reinterpret_cast<PluginCallsMayOverlapFn>(plugin.symbol(REDFISH_ENTRY_CALLS_MAY_OVERLAP));
    ASSERT_NE(fn, nullptr);
    EXPECT_NE(fn(), 0);
}

TEST_F(PluginOverlap, OverlappingCallsKeepModelAndStateFileConsistent) {
    std::vector<Client> clients = {
        {"right login",
         [&](LoadedPlugin& p, int) {
             return expectStatus("login", p.loginFrom("admin", admin, "192.0.2.1"), 201);
         }},
        {"wrong login",
         [](LoadedPlugin& p, int) {
             return expectStatus("login", p.loginFrom("admin", "not-the-password", "192.0.2.2"),
                                 401);
         }},
        {"unknown login",
         [](LoadedPlugin& p, int) {
             return expectStatus("login", p.loginFrom("nobody", "whatever-1", "192.0.2.3"), 401);
         }},
        {"password change",
         [](LoadedPlugin& p, int round) {
             const Json body = {{"Password", "op-secret-" + std::to_string(round + 1)}};
             return expectStatus("PATCH", p.patch(kAccounts + "/2", body), 200);
         }},
        {"account churn",
         [](LoadedPlugin& p, int round) {
             const std::string user = "temp" + std::to_string(round);
             Call c =
                 p.post(kAccounts,
                        {{"UserName", user}, {"Password", "temp-secret"}, {"RoleId", "Operator"}});
             if (c.status != 201)
                 return expectStatus("account create", c, 201);
             return expectStatus("account DELETE",
                                 p.del(kAccounts + "/" + c.data["Id"].get<std::string>()), 200);
         }},
        {"upload",
         [](LoadedPlugin& p, int round) {
             // In a directory of its own per request, as the server hands
             // an overlapping plug-in its uploads.
             const std::string version = "2." + std::to_string(round) + ".0";
             const auto path =
                 p.serverDir / "uploads-incoming" / std::to_string(round) / "image.bin";
             writeFile(path, tolvane::plugin::buildImage("Firmware", "Veltrano RC-8i", version,
                                                         "payload"));
             return expectStatus(
                 "upload",
                 p.post(kFirmware, {{"absoluteFilePath", path.string()}, {"AllowDowngrade", true}}),
                 200);
         }},
        {"reader",
         [](LoadedPlugin& p, int) {
             std::string problem;
             for (const std::string& uri : {kVolumes + "?$expand=Members", kAccounts,
                                            std::string("/redfish/v1/SessionService/Sessions")})
                 problem += expectStatus("GET", p.get(uri), 200);
             return problem;
         }},
    };
    for (int drive : {0, 1, 2, 3})
        clients.push_back({"volumes", [drive](LoadedPlugin& p, int round) {
                               return volumeRound(p, drive, round);
                           }});

    for (const auto& problem : runTogether(clients))
        EXPECT_EQ(problem, "");

    // Each volume client's last volume is listed once, and nothing else.
    const Json before = snapshot();
    std::multiset<std::string> names, ids;
    for (const auto& v : before["Volumes"]) {
        names.insert(v["Name"].get<std::string>());
        ids.insert(v["Id"].get<std::string>());
    }
    EXPECT_EQ(names, (std::multiset<std::string>{"v0r2", "v1r2", "v2r2", "v3r2"}));
    EXPECT_EQ(std::set<std::string>(ids.begin(), ids.end()).size(), ids.size());
    EXPECT_EQ(before["Accounts"].size(), 2u);
    EXPECT_EQ(
        plugin.loginFrom("operator1", "op-secret-3", "192.0.2.4").reply["response"]["HttpStatus"],
        201);

    // The state files parse and a fresh load shows the same model.
    const Json accountsFile = Json::parse(readFile(plugin.serverDir / "Accounts.json"));
    for (const auto& a : accountsFile["Accounts"])
        EXPECT_EQ(a["Iterations"], tolvane::plugin::AccountStore::kIterations);
    EXPECT_TRUE(Json::parse(readFile(plugin.serverDir / "PluginState.json")).contains("Format"));
    plugin.uninitialize();
    ASSERT_TRUE(plugin.initialize());
    EXPECT_EQ(snapshot(), before);
}

// Uploads are read where the server puts them, the per-request directories
// of overlapping calls included, and nowhere else.
TEST_F(PluginOverlap, UploadIsReadOnlyFromTheServersUploadFolders) {
    const std::string image =
        tolvane::plugin::buildImage("Firmware", "Veltrano RC-8i", "3.0.0", "p");
    const std::vector<std::pair<std::string, int>> cases = {
        {"uploads/image.bin", 200},
        {"uploads/image.bin.17", 200},
        {"uploads-incoming/17/image.bin", 200},
        {"uploads-incoming/image.bin", 400},
        {"uploads-incoming/17/18/image.bin", 400},
        {"elsewhere/17/image.bin", 400},
    };
    for (const auto& [where, status] : cases) {
        const auto path = plugin.serverDir / where;
        writeFile(path, image);
        Call c =
            plugin.post(kFirmware, {{"absoluteFilePath", path.string()}, {"AllowDowngrade", true}});
        EXPECT_EQ(c.status, status) << where << ": " << c.text;
    }
}

} // namespace
