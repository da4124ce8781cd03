// Storage that fails under a request, and stored files that parse but hold
// the wrong content, end to end through the program and a plug-in.

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "poste2e.h"
#include "testsupport.h"

namespace fs = std::filesystem;
using Json = nlohmann::json;

namespace {

const std::string kDrive = "/redfish/v1/Chassis/1/Drives/5";
const std::string kAccounts = "/redfish/v1/AccountService/Accounts";
const std::string kSessions = "/redfish/v1/SessionService/Sessions";

// Keeps a writer from creating `path`: a directory with an entry stands in
// its way, and neither unlink nor an exclusive create gets past it.
void obstruct(const std::string& path) {
    fs::remove_all(path);
    fs::create_directories(path + "/in-the-way");
}

// The real program with the bundled storage plug-in, logged in as admin.
class BundledPlugin : public ts::BundledServer {
  public:
    explicit BundledPlugin(const std::vector<std::pair<std::string, std::string>>& files = {}) {
        for (const auto& f : files)
            ts::writeFile(tree.serverDir + f.first, f.second);
    }
    // Starts the program (again) and logs in.
    bool start() {
        token = ts::BundledServer::start().empty() ? login("admin", password()) : "";
        return !token.empty();
    }
    ts::Response send(const std::string& method, const std::string& target,
                      const std::string& body = "") {
        return ts::BundledServer::send(method, target, token, body,
                                       {"Content-Type: application/json"});
    }
    Json get(const std::string& target) {
        return Json::parse(send("GET", target).body, nullptr, false);
    }
    // Files moved aside as unusable, by the name they had.
    int movedAside(const std::string& name) const {
        int n = 0;
        for (const auto& e : fs::directory_iterator(tree.serverDir))
            n += e.path().filename().string().rfind(name + ".corrupt-", 0) == 0;
        return n;
    }

    std::string token;
};

TEST(StorageFault, FailedStateWriteRollsTheChangeBackWith500) {
    struct Case {
        const char* file; // what the change must write
        std::string method, target, body;
        std::function<bool(BundledPlugin&)> unchanged;
    };
    const Case cases[] = {
        {"PluginState.json", "PATCH", kDrive, R"({"LocationIndicatorActive":true})",
         [](BundledPlugin& p) { return p.get(kDrive)["LocationIndicatorActive"] == false; }},
        {"Accounts.json", "POST", kAccounts,
         R"({"UserName":"op1","Password":"Operator-pass-1","RoleId":"Operator"})",
         [](BundledPlugin& p) { return p.get(kAccounts)["Members@odata.count"] == 1; }},
        // The first password's only record stays until its successor is stored.
        {"Accounts.json", "PATCH", kAccounts + "/1", R"({"Password":"Admin-pass-new-1"})",
         [](BundledPlugin& p) {
             return fs::exists(p.tree.serverDir + "InitialAdminPassword.txt");
         }},
    };
    BundledPlugin plugin;
    ASSERT_TRUE(plugin.start()) << plugin.server->output();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string tmp = plugin.tree.serverDir + c.file + ".tmp";
        const std::string before = ts::readFile(plugin.tree.serverDir + c.file);
        ASSERT_TRUE(c.unchanged(plugin));
        obstruct(tmp);
        EXPECT_EQ(plugin.send(c.method, c.target, c.body).status, 500);
        EXPECT_TRUE(c.unchanged(plugin)) << "the model kept a change it could not store";
        EXPECT_EQ(ts::readFile(plugin.tree.serverDir + c.file), before);
        // Once the store works again, so does the change.
        fs::remove_all(tmp);
        const int status = plugin.send(c.method, c.target, c.body).status;
        EXPECT_TRUE(status == 200 || status == 201) << status;
        EXPECT_FALSE(c.unchanged(plugin));
    }
}

TEST(StorageFault, ValidJsonWithInvalidContentIsMovedAsideAndReplaced) {
    const std::pair<std::string, std::string> cases[] = {
        {"PluginState.json", "[]"},
        {"PluginState.json", R"({"Format":"Tolvane-Plugin-State","Controllers":5})"},
        {"PluginState.json", R"({"Format":"Tolvane-Plugin-State","Controllers":[{"Id":1}]})"},
        {"Accounts.json", "{}"},
        {"Accounts.json", R"({"NextId":2,"Accounts":"admin"})"},
        {"Accounts.json", R"({"NextId":2,"Accounts":[{"Id":"1","UserName":"admin"}]})"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first + ": " + c.second);
        BundledPlugin plugin({c});
        // A fresh administrator (the accounts file is missing or replaced)
        // can log in, and the default storage model answers.
        ASSERT_TRUE(plugin.start()) << plugin.server->output();
        EXPECT_EQ(plugin.movedAside(c.first), 1);
        EXPECT_EQ(plugin.send("GET", kDrive).status, 200);
        EXPECT_TRUE(
            Json::parse(ts::readFile(plugin.tree.serverDir + c.first), nullptr, false).is_object());
    }
}

// A damaged state file loads only what the REST API would have accepted; a
// damaged entry costs that entry alone.
TEST(StorageFault, DamagedStateFilesAreCheckedAsTheApiWould) {
    BundledPlugin plugin;
    ASSERT_TRUE(plugin.start()) << plugin.server->output();
    ASSERT_EQ(plugin
                  .send("POST", kAccounts,
                        R"({"UserName":"op1","Password":"Operator-pass-1","RoleId":"Operator"})")
                  .status,
              201);
    plugin.server->stop();
    const std::string accountsFile = plugin.tree.serverDir + "Accounts.json";
    const std::string stateFile = plugin.tree.serverDir + "PluginState.json";
    const Json accounts = Json::parse(ts::readFile(accountsFile));
    const Json state = Json::parse(ts::readFile(stateFile));
    const struct {
        const char* damage;
        std::function<void(Json& accounts, Json& state)> apply;
        std::function<bool(BundledPlugin&)> sound;
    } cases[] = {
        {"NextId below an account's Id", [](Json& a, Json&) { a["NextId"] = 1; },
         [](BundledPlugin& p) {
             const ts::Response r =
                 p.send("POST", kAccounts,
                        R"({"UserName":"op2","Password":"Operator-pass-2","RoleId":"Operator"})");
             return Json::parse(r.body, nullptr, false).value("@odata.id", "") == kAccounts + "/3";
         }},
        {"the administrator's name twice",
         [](Json& a, Json&) {
             Json twin = a["Accounts"][1];
             twin["Id"] = "9";
             twin["UserName"] = "ADMIN";
             a["Accounts"].push_back(twin);
         },
         [](BundledPlugin& p) { return p.get(kAccounts)["Members@odata.count"] == 2; }},
        {"one damaged entry",
         [](Json& a, Json&) {
             a["Accounts"].push_back(Json{{"Id", "5"}});
         },
         [](BundledPlugin& p) { return p.get(kAccounts)["Members@odata.count"] == 2; }},
        {"a negative capacity",
         [](Json&, Json& s) { s["Controllers"][0]["Drives"][0]["CapacityBytes"] = -5; },
         [](BundledPlugin& p) { return p.movedAside("PluginState.json") == 1; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.damage);
        Json damagedAccounts = accounts;
        Json damagedState = state;
        c.apply(damagedAccounts, damagedState);
        ts::writeFile(accountsFile, damagedAccounts.dump());
        ts::writeFile(stateFile, damagedState.dump());
        ASSERT_TRUE(plugin.start()) << "the administrator still logs in";
        EXPECT_TRUE(c.sound(plugin));
        plugin.server->stop();
        for (const auto& e : fs::directory_iterator(plugin.tree.serverDir))
            if (e.path().filename().string().find(".corrupt-") != std::string::npos)
                fs::remove(e.path());
    }
}

// Uploads whose file the server cannot store: a server error, and the
// plug-in is never called with a file that is not there.
// The standard profile, whose clients read Redfish error objects.
class UploadStorageFault : public poste2e::ServerTest {
  protected:
    ts::InstallOptions installOptions() override {
        ts::InstallOptions o = poste2e::ServerTest::installOptions();
        o.extraConfig = "\"RedfishProtocolProfile\": \"Standard\"";
        return o;
    }
};

// A server error as a Redfish error object.
void expectInternalError(const ts::Response& r) {
    EXPECT_EQ(r.status, 500) << r.raw;
    const auto body = nlohmann::json::parse(r.body, nullptr, false);
    EXPECT_NE(body.value("/error/@Message.ExtendedInfo/0/MessageId"_json_pointer, std::string())
                  .find("InternalError"),
              std::string::npos)
        << r.raw;
}

const char* const kFirmware =
    "/redfish/v1/UpdateService/Actions/Oem/Veltrano.InstallOrUpgradeFirmware";
const char* const kBoundary = "----faultBoundary";

ts::Response uploadFirmware(int port, const std::string& image) {
    return ts::request(port, "POST", kFirmware,
                       {std::string("Content-Type: multipart/form-data; boundary=") + kBoundary,
                        "X-Auth-Token: tok"},
                       ts::multipartBody(kBoundary, {{"file", "fw.bin", image}}));
}

TEST_F(UploadStorageFault, UnstorableUploadIsAServerErrorWithoutPluginCall) {
    struct Case {
        const char* fault;
        std::function<void(const std::string& uploads)> make;
    };
    const Case cases[] = {
        {"the uploads path is a regular file",
         [](const std::string& uploads) {
             fs::remove_all(uploads);
             ts::writeFile(uploads, "not a directory");
         }},
        {"the file cannot be created",
         [](const std::string& uploads) {
             fs::remove_all(uploads);
             obstruct(uploads + "/fw.bin");
         }},
        // A link planted where uploads arrive is not followed (nor is what it
        // names made readable to the group).
        {"a link in place of the incoming uploads",
         [](const std::string& uploads) {
             fs::remove_all(uploads + "-incoming");
             fs::create_directory(uploads + "-victim");
             fs::permissions(uploads + "-victim", fs::perms::owner_all);
             fs::create_directory_symlink(uploads + "-victim", uploads + "-incoming");
         }},
    };
    ASSERT_EQ(login("tok", "/redfish/v1/SessionService/Sessions/1").status, 201);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        c.make(tree->serverDir + "uploads");
        tree->clearCalls();
        expectInternalError(uploadFirmware(tree->port, "IMAGE"));
        EXPECT_TRUE(callsOf("POST").empty());
    }
    const std::string victim = tree->serverDir + "uploads-victim";
    EXPECT_EQ(fs::status(victim).permissions(), fs::perms::owner_all);
    EXPECT_TRUE(fs::is_empty(victim));
}

// A disk that fills up during an upload (a file size limit, inherited by the
// server, stands in for it) once dropped the file silently, and the request
// was refused as the client's fault for a missing parameter.
TEST_F(UploadStorageFault, UploadCutShortByAFullDiskIsAServerError) {
    server.reset();
    struct rlimit saved {};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    struct rlimit small = saved;
    small.rlim_cur = 256 * 1024;
    std::signal(SIGXFSZ, SIG_IGN);
    ::setrlimit(RLIMIT_FSIZE, &small);
    server = std::make_unique<ts::ServerProcess>(*tree);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ASSERT_TRUE(server->waitReady()) << server->output();
    ASSERT_EQ(login("tok", "/redfish/v1/SessionService/Sessions/1").status, 201);
    tree->clearCalls();
    expectInternalError(uploadFirmware(tree->port, std::string(512 * 1024, 'F')));
    EXPECT_TRUE(callsOf("POST").empty());
}

} // namespace
