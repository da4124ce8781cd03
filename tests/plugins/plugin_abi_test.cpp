// The resource plug-in through its C entry points, with the argument texts
// the server sends and the reply shapes the server reads.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include <gtest/gtest.h>

#include "pluginharness.h"
#include "testsupport.h"

#include "backupformat.h"
#include "imageformat.h"

using namespace plugintest;
namespace fs = std::filesystem;

namespace {

const std::string kStorage = "/redfish/v1/Systems/1/Storage/1";
const std::string kVolumes = kStorage + "/Volumes";
const std::string kDrives = "/redfish/v1/Chassis/1/Drives";
const std::string kActions = kStorage + "/Actions/Oem/";
const std::string kModel = "Veltrano RC-8i";

std::string messageId(const Call& c) {
    return c.data.at("error").at("@Message.ExtendedInfo").at(0).at("MessageId").get<std::string>();
}

Json driveLinks(std::initializer_list<int> ids) {
    Json list = Json::array();
    for (int id : ids)
        list.push_back(Json{{"@odata.id", kDrives + "/" + std::to_string(id)}});
    return Json{{"Drives", list}};
}

class PluginAbi : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(plugin.initialize()); }
    Call createVolume(const std::string& raid, std::initializer_list<int> drives,
                      const std::string& name = "") {
        Json body = {{"RAIDType", raid}, {"Links", driveLinks(drives)}};
        if (!name.empty())
            body["Name"] = name;
        return plugin.post(kVolumes, body);
    }
    size_t volumeCount() { return plugin.get(kVolumes).data.at("Members").size(); }
    LoadedPlugin plugin;
};

// Long operations as tasks, called as the server calls for a session: small
// work finishes at once, erasing a drive takes a minute.
class PluginTasks : public ::testing::Test {
  protected:
    void SetUp() override {
        writeFile(plugin.serverDir / "ServerConfiguration.json",
                  R"({"TaskVolumeCreationMinimumBytes": 1e9, "TaskImageBytesPerSecond": 1e12})");
        ASSERT_TRUE(plugin.initialize());
    }
    Call as(const std::string& user, const std::string& method, const std::string& uri,
            const Json& body = Json::object()) {
        const char* privileges = user == "admin"    ? "Login,ConfigureManager,ConfigureComponents"
                                 : user == "viewer" ? "Login"
                                                    : "Login,ConfigureComponents";
        return plugin.callAs(user, privileges, method, uri, body.dump());
    }
    static std::string monitorOf(const Call& started) {
        return started.reply["Headers"].value("Location", "");
    }
    LoadedPlugin plugin;
};

} // namespace

TEST_F(PluginAbi, FirstStartCreatesAdministratorWithPrivatePasswordFile) {
    const std::string password = plugin.adminPassword();
    ASSERT_GE(password.size(), 16u);
    EXPECT_NE(plugin.initOutput.find(password), std::string::npos);
    struct stat st {};
    ASSERT_EQ(stat((plugin.serverDir / "InitialAdminPassword.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(stat((plugin.serverDir / "Accounts.json").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    // Only a hash is stored.
    EXPECT_EQ(readFile(plugin.serverDir / "Accounts.json").find(password), std::string::npos);

    // A restart keeps the account and announces nothing.
    plugin.uninitialize();
    ASSERT_TRUE(plugin.initialize());
    EXPECT_EQ(plugin.initOutput.find(password), std::string::npos);
    EXPECT_EQ(plugin.login("admin", password).reply["response"]["HttpStatus"], 201);
}

TEST_F(PluginAbi, LoginReplyCarriesSessionDataAndHeaders) {
    Call c = plugin.login("admin", plugin.adminPassword());
    ASSERT_TRUE(c.reply.contains("response")) << c.text;
    const Json& r = c.reply["response"];
    EXPECT_EQ(r["HttpStatus"], 201);
    const Json& data = r["Data"];
    EXPECT_EQ(data["HttpStatus"], 201);
    EXPECT_EQ(data["Role"], "/redfish/v1/AccountService/Roles/Administrator");
    EXPECT_EQ(data["OSPrivilegeLevel"], "Administrator");
    const Json& session = data["Data"];
    EXPECT_EQ(session["@odata.type"], "#Session.v1_8_0.Session");
    EXPECT_EQ(session["UserName"], "admin");
    const std::string token = r["Headers"]["X-Auth-Token"];
    EXPECT_GE(token.size(), 32u); // at least 128 bits as hex
    EXPECT_EQ(r["Headers"]["Location"],
              "/redfish/v1/SessionService/Sessions/" + session["Id"].get<std::string>());
    EXPECT_EQ(session["@odata.id"], r["Headers"]["Location"]);

    // Listed, readable, and gone after a logout.
    const std::string location = r["Headers"]["Location"];
    EXPECT_EQ(plugin.get("/redfish/v1/SessionService/Sessions").data["Members@odata.count"], 1);
    EXPECT_EQ(plugin.get(location).status, 200);
    Call out = plugin.del(location);
    EXPECT_EQ(out.status, 200);
    EXPECT_EQ(plugin.get(location).status, 404);
    EXPECT_EQ(plugin.del(location).status, 404);

    // Two logins give different tokens.
    Call a = plugin.login("admin", plugin.adminPassword());
    Call b = plugin.login("admin", plugin.adminPassword());
    EXPECT_NE(a.reply["response"]["Headers"]["X-Auth-Token"],
              b.reply["response"]["Headers"]["X-Auth-Token"]);
}

TEST_F(PluginAbi, FailedLoginsAnswer401AndLockTheAccount) {
    for (const auto& [user, pw] : std::vector<std::pair<std::string, std::string>>{
             {"admin", "wrong-password"}, {"nobody", "whatever1"}, {"ADMIN", "x"}}) {
        Call c = plugin.login(user, pw);
        EXPECT_FALSE(c.reply.contains("response")) << c.text;
        EXPECT_EQ(c.status, 401);
        EXPECT_EQ(messageId(c), "Base.1.22.1.ResourceAtUriUnauthorized");
    }
    // User names are matched without regard to case.
    EXPECT_EQ(plugin.login("Admin", plugin.adminPassword()).reply["response"]["HttpStatus"], 201);

    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(plugin.login("admin", "bad-password").status, 401);
    // Locked now, even with the right password.
    EXPECT_EQ(plugin.login("admin", plugin.adminPassword()).status, 401);
    Json account = plugin.get("/redfish/v1/AccountService/Accounts/1").data;
    EXPECT_EQ(account["Locked"], true);
}

TEST_F(PluginAbi, MalformedLoginsAreRefusedWith400) {
    Json noPassword = {{"x-forwarded-for", "h"}, {"requestBody", "{\"UserName\":\"admin\"}"}};
    Call c = plugin.call("POST", "/redfish/v1/SessionService/Sessions", noPassword.dump());
    EXPECT_EQ(c.status, 400);
    EXPECT_EQ(messageId(c), "Base.1.22.1.PropertyMissing");
    Json garbage = {{"x-forwarded-for", "h"}, {"requestBody", "{UserName: admin"}};
    c = plugin.call("POST", "/redfish/v1/SessionService/Sessions", garbage.dump());
    EXPECT_EQ(c.status, 400);
    EXPECT_EQ(messageId(c), "Base.1.22.1.MalformedJSON");
    c = plugin.call("POST", "/redfish/v1/SessionService/Sessions", "not json");
    EXPECT_EQ(c.status, 400);
}

TEST_F(PluginAbi, TopLevelResourcesAllAnswer) {
    // The server's service root links these; the plug-in serves each.
    const std::vector<std::string> top = plugin.topLevelUris();
    for (const std::string& uri : top) {
        Call c = plugin.get(uri + "?$expand=Members");
        EXPECT_EQ(c.status, 200) << uri;
        EXPECT_EQ(c.data["@odata.id"], uri);
    }
    EXPECT_EQ(top.size(), 12u);
    EXPECT_EQ(plugin.get("/redfish/v1").status, 404); // the server's own document
}

TEST_F(PluginAbi, ExpandMembersEmbedsTheMembers) {
    Call plain = plugin.get(kDrives);
    ASSERT_EQ(plain.data["Members@odata.count"], 8);
    EXPECT_EQ(plain.data["Members"][0].size(), 1u);
    Call expanded = plugin.get(kDrives + "?$expand=Members");
    ASSERT_EQ(expanded.data["Members"].size(), 8u);
    EXPECT_EQ(expanded.data["Members"][3]["Id"], "3");
    EXPECT_EQ(expanded.data["Members"][3]["@odata.type"], "#Drive.v1_22_0.Drive");
    // Drive 7 has failed, drive 6 predicts its failure.
    EXPECT_EQ(expanded.data["Members"][7]["Status"]["Health"], "Critical");
    EXPECT_EQ(expanded.data["Members"][6]["FailurePredicted"], true);
}

TEST_F(PluginAbi, ErrorsHaveRedfishShapeAndStatus) {
    Call c = plugin.get("/redfish/v1/NoSuchThing");
    EXPECT_EQ(c.status, 404);
    EXPECT_EQ(messageId(c), "Base.1.22.1.ResourceMissingAtURI");
    EXPECT_TRUE(c.data["error"].contains("code"));
    EXPECT_TRUE(c.data["error"].contains("message"));
    c = plugin.get(kDrives + "/42");
    EXPECT_EQ(c.status, 404);
    EXPECT_EQ(messageId(c), "Base.1.22.1.ResourceNotFound");
    c = plugin.patch("/redfish/v1/Systems", Json::object());
    EXPECT_EQ(c.status, 405);
    EXPECT_EQ(messageId(c), "Base.1.22.1.OperationNotAllowed");
    c = plugin.call("PATCH", kVolumes + "/1", "{not json");
    EXPECT_EQ(c.status, 400);
    c = plugin.call("POST", kVolumes, "{not json");
    EXPECT_EQ(c.status, 400);
    EXPECT_EQ(messageId(c), "Base.1.22.1.MalformedJSON");
    c = plugin.call("POST", kVolumes, "[1,2]");
    EXPECT_EQ(c.status, 400);
    c = plugin.get("/other/path");
    EXPECT_EQ(c.status, 404);
    // Trailing slashes and a case-different prefix lead to the same resource.
    EXPECT_EQ(plugin.get(kStorage + "/").data["Id"], "1");
    EXPECT_EQ(plugin.get("/Redfish/v1/Systems/1").status, 200);
}

TEST_F(PluginAbi, VolumeLifecycle) {
    Call c = createVolume("RAID1", {0, 1}, "Mirror");
    ASSERT_EQ(c.status, 201) << c.text;
    EXPECT_EQ(c.data["Name"], "Mirror");
    EXPECT_EQ(c.data["RAIDType"], "RAID1");
    EXPECT_EQ(c.data["CapacityBytes"], 960197124096ULL);
    const std::string uri = c.data["@odata.id"];
    EXPECT_EQ(uri, kVolumes + "/" + c.data["Id"].get<std::string>());
    EXPECT_EQ(plugin.get(kDrives + "/0").data["Links"]["Volumes"][0]["@odata.id"], uri);

    c = plugin.patch(uri, {{"Name", "Renamed"}, {"WriteCachePolicy", "ProtectedWriteBack"}});
    ASSERT_EQ(c.status, 200) << c.text;
    EXPECT_EQ(plugin.get(uri).data["Name"], "Renamed");
    EXPECT_EQ(plugin.get(uri).data["WriteCachePolicy"], "ProtectedWriteBack");

    c = plugin.post(uri + "/Actions/Volume.Initialize", {{"InitializeType", "Slow"}});
    EXPECT_EQ(c.status, 202); // runs on as a task, one at a time, until cancelled
    EXPECT_EQ(plugin.post(uri + "/Actions/Volume.Initialize", Json::object()).status, 409);
    EXPECT_EQ(plugin.del(c.reply["Headers"]["Location"]).data["TaskState"], "Cancelled");
    c = plugin.post(uri + "/Actions/Volume.Initialize", {{"InitializeType", "Medium"}});
    EXPECT_EQ(c.status, 400);
    c = plugin.post(uri + "/Actions/Volume.Grow", Json::object());
    EXPECT_EQ(c.status, 400);
    EXPECT_EQ(messageId(c), "Base.1.22.1.ActionNotSupported");

    c = plugin.del(uri);
    EXPECT_EQ(c.status, 200);
    EXPECT_EQ(plugin.get(uri).status, 404);
    EXPECT_EQ(plugin.del(uri).status, 404);
    EXPECT_TRUE(plugin.get(kDrives + "/0").data["Links"]["Volumes"].empty());
}

TEST_F(PluginAbi, VolumeCreationErrorsChangeNothing) {
    ASSERT_EQ(createVolume("RAID0", {2}, "Taken").status, 201);
    struct Case {
        Json body;
        int status;
        std::string id;
    };
    const std::vector<Case> cases = {
        {{{"Links", driveLinks({0, 1})}}, 400, "PropertyMissing"},
        {{{"RAIDType", "RAID1"}}, 400, "PropertyMissing"},
        {{{"RAIDType", "RAID7"}, {"Links", driveLinks({0, 1})}}, 400, "PropertyValueNotInList"},
        {{{"RAIDType", 5}, {"Links", driveLinks({0, 1})}}, 400, "PropertyValueTypeError"},
        {{{"RAIDType", "RAID5"}, {"Links", driveLinks({0, 1})}}, 400, "PropertyValueConflict"},
        {{{"RAIDType", "RAID10"}, {"Links", driveLinks({0, 1, 3, 4, 5})}},
         400,
         "PropertyValueConflict"},
        {{{"RAIDType", "RAID1"}, {"Links", driveLinks({0, 4})}},
         400,
         "PropertyValueConflict"}, // SSD + HDD
        {{{"RAIDType", "RAID1"}, {"Links", driveLinks({0, 2})}}, 409, "ResourceInUse"},
        {{{"RAIDType", "RAID1"}, {"Links", driveLinks({5, 7})}},
         409,
         "PropertyValueResourceConflict"},
        {{{"RAIDType", "RAID1"}, {"Links", driveLinks({0, 9})}}, 404, "ResourceNotFound"},
        {{{"RAIDType", "RAID1"}, {"Links", driveLinks({0, 0})}}, 400, "PropertyValueConflict"},
        {{{"RAIDType", "RAID1"},
          {"Links", Json{{"Drives", Json::array({Json{{"@odata.id", "/x/0"}}})}}}},
         400,
         "PropertyValueFormatError"},
        {{{"RAIDType", "RAID1"}, {"Links", driveLinks({0, 1})}, {"CapacityBytes", 960197124097ULL}},
         400,
         "PropertyValueOutOfRange"},
        {{{"RAIDType", "RAID1"}, {"Links", driveLinks({0, 1})}, {"CapacityBytes", -1}},
         400,
         "PropertyValueOutOfRange"},
        {{{"RAIDType", "RAID1"}, {"Links", driveLinks({0, 1})}, {"StripSizeBytes", 1000}},
         400,
         "PropertyValueNotInList"},
        {{{"RAIDType", "RAID1"}, {"Links", driveLinks({0, 1})}, {"Name", "Taken"}},
         409,
         "ResourceAlreadyExists"},
        {{{"RAIDType", "RAID1"}, {"Links", driveLinks({0, 1})}, {"Name", std::string(65, 'n')}},
         400,
         "StringValueTooLong"},
        {{{"RAIDType", "RAID1"}, {"Links", driveLinks({0, 1})}, {"Id", "7"}},
         400,
         "PropertyNotWritable"},
        {{{"RAIDType", "RAID1"}, {"Links", driveLinks({0, 1})}, {"Colour", "blue"}},
         400,
         "PropertyUnknown"},
        {{{"RAIDType", "RAID1"}, {"Links", driveLinks({0, 1})}, {"Encrypted", true}},
         400,
         "PropertyValueNotInList"},
        {{{"RAIDType", "RAID1"}, {"Links", driveLinks({0, 1})}, {"Encrypted", 0}},
         400,
         "PropertyValueTypeError"},
        {{{"RAIDType", "RAID5"}, {"VolumeType", "Mirrored"}, {"Links", driveLinks({0, 1, 3})}},
         400,
         "PropertyValueConflict"},
        {{{"VolumeType", "RawDevice"}, {"Links", driveLinks({0, 1})}},
         400,
         "PropertyValueNotInList"},
    };
    for (const auto& tc : cases) {
        Call c = plugin.post(kVolumes, tc.body);
        EXPECT_EQ(c.status, tc.status) << tc.body.dump() << " -> " << c.text;
        if (c.status >= 400) {
            EXPECT_EQ(messageId(c), "Base.1.22.1." + tc.id) << tc.body.dump();
        }
    }
    EXPECT_EQ(volumeCount(), 1u);
    // The state file was not touched by the refusals either.
    EXPECT_EQ(
        Json::parse(readFile(plugin.serverDir / "PluginState.json"))["Controllers"][0]["Volumes"]
            .size(),
        1u);
}

TEST_F(PluginAbi, VolumesShareDrivesWhileSpaceRemains) {
    const uint64_t gb = 1000000000ULL, rest = 960197124096ULL - 900 * gb;
    const struct {
        Json body;
        int status;
        uint64_t capacity;
        std::string message; // in the error, or a warning's MessageId
    } rows[] = {
        {{{"RAIDType", "RAID1"},
          {"VolumeType", "Mirrored"},
          {"Encrypted", false},
          {"CapacityBytes", 500 * gb},
          {"Links", driveLinks({0, 1})}},
         201,
         500 * gb,
         ""},
        {{{"RAIDType", "RAID1"}, {"CapacityBytes", 400 * gb}, {"Links", driveLinks({0, 1})}},
         201,
         400 * gb,
         ""},
        {{{"RAIDType", "RAID1"}, {"CapacityBytes", 100 * gb}, {"Links", driveLinks({0, 1})}},
         409,
         0,
         std::to_string(rest) + " bytes free"},
        {{{"RAIDType", "RAID0"}, {"Links", driveLinks({0})}}, 201, rest, ""},
        {{{"RAIDType", "RAID0"}, {"Links", driveLinks({0})}}, 409, 0, "has 0 bytes free"},
        {{{"VolumeType", "StripedWithParity"}, {"Links", driveLinks({1, 2, 3})}},
         201,
         2 * rest,
         ""},
        {{{"VolumeType", "Mirrored"}, {"Links", driveLinks({4, 6})}},
         201,
         1200243695616ULL,
         "StorageDevice.1.5.1.DrivePredictiveFailure"},
    };
    for (const auto& row : rows) {
        Call c = plugin.post(kVolumes, row.body);
        ASSERT_EQ(c.status, row.status) << row.body.dump() << " -> " << c.text;
        EXPECT_EQ(c.data.value("CapacityBytes", uint64_t{0}), row.capacity) << row.body.dump();
        EXPECT_NE(c.text.find(row.message), std::string::npos) << c.text;
    }
    EXPECT_EQ(plugin.get(kDrives + "/0").data["Links"]["Volumes"].size(), 3u);
    plugin.uninitialize(); // the state file's shared drives are taken back as they were
    ASSERT_TRUE(plugin.initialize());
    EXPECT_EQ(volumeCount(), 5u);
}

TEST_F(PluginAbi, VolumePatchAllowsOnlyWritableProperties) {
    Call c = createVolume("RAID5", {0, 1, 3}, "Parity");
    ASSERT_EQ(c.status, 201);
    EXPECT_EQ(c.data["CapacityBytes"], 2 * 960197124096ULL);
    const std::string uri = c.data["@odata.id"];
    ASSERT_EQ(createVolume("RAID0", {2}, "Other").status, 201);
    struct Case {
        Json body;
        int status;
        std::string id;
    };
    const std::vector<Case> cases = {
        {{{"RAIDType", "RAID0"}}, 400, "PropertyNotWritable"},
        {{{"CapacityBytes", 1}}, 400, "PropertyNotWritable"},
        {{{"Name", "New"}, {"Status", Json::object()}}, 400, "PropertyNotWritable"},
        {Json::object(), 400, "NoOperation"},
        {{{"ReadCachePolicy", "Sometimes"}}, 400, "PropertyValueNotInList"},
        {{{"Name", "Other"}}, 409, "ResourceAlreadyExists"},
        {{{"Name", ""}}, 400, "PropertyValueFormatError"},
        {{{"Shape", "round"}}, 400, "PropertyUnknown"},
    };
    for (const auto& tc : cases) {
        Call r = plugin.patch(uri, tc.body);
        EXPECT_EQ(r.status, tc.status) << tc.body.dump();
        EXPECT_EQ(messageId(r), "Base.1.22.1." + tc.id) << tc.body.dump();
    }
    EXPECT_EQ(plugin.get(uri).data["Name"], "Parity"); // nothing of a refused PATCH stays
    EXPECT_EQ(plugin.patch(kVolumes + "/99", {{"Name", "x"}}).status, 404);
}

TEST_F(PluginAbi, DrivePatchAndSecureErase) {
    Call c = plugin.patch(kDrives + "/5",
                          {{"HotspareType", "Global"}, {"LocationIndicatorActive", true}});
    ASSERT_EQ(c.status, 200) << c.text;
    EXPECT_EQ(c.data["HotspareType"], "Global");
    // A spare cannot join a volume or be erased.
    EXPECT_EQ(createVolume("RAID1", {4, 5}).status, 409);
    EXPECT_EQ(plugin.post(kDrives + "/5/Actions/Drive.SecureErase", Json::object()).status, 409);
    c = plugin.post(kDrives + "/4/Actions/Drive.SecureErase", Json::object());
    EXPECT_EQ(c.status, 202);
    EXPECT_EQ(createVolume("RAID0", {4}).status, 409); // taken while it is erased
    plugin.del(c.reply["Headers"]["Location"]);
    EXPECT_EQ(plugin.patch(kDrives + "/7", {{"HotspareType", "Global"}}).status, 409);
    EXPECT_EQ(plugin.patch(kDrives + "/4", {{"CapacityBytes", 1}}).status, 400);
    ASSERT_EQ(createVolume("RAID0", {4}).status, 201);
    EXPECT_EQ(plugin.patch(kDrives + "/4", {{"HotspareType", "Global"}}).status, 409);
}

TEST_F(PluginAbi, StateSurvivesRestartAndCorruptStateIsMovedAside) {
    ASSERT_EQ(createVolume("RAID10", {0, 1, 2, 3}, "Striped mirrors").status, 201);
    plugin.uninitialize();
    ASSERT_TRUE(plugin.initialize());
    Json volumes = plugin.get(kVolumes + "?$expand=Members").data["Members"];
    ASSERT_EQ(volumes.size(), 1u);
    EXPECT_EQ(volumes[0]["Name"], "Striped mirrors");
    // The next Id continues after a restart.
    Call next = createVolume("RAID0", {4});
    EXPECT_EQ(next.data["Id"], "2");

    plugin.uninitialize();
    writeFile(plugin.serverDir / "PluginState.json", "{\"Controllers\": [ broken");
    ASSERT_TRUE(plugin.initialize());
    EXPECT_EQ(volumeCount(), 0u);
    int aside = 0;
    for (const auto& e : fs::directory_iterator(plugin.serverDir))
        aside += e.path().filename().string().rfind("PluginState.json.corrupt-", 0) == 0;
    EXPECT_EQ(aside, 1);
    // A corrupt accounts file gives a fresh administrator.
    plugin.uninitialize();
    const std::string oldPassword = plugin.adminPassword();
    writeFile(plugin.serverDir / "Accounts.json", "[]");
    ASSERT_TRUE(plugin.initialize());
    EXPECT_NE(plugin.adminPassword(), oldPassword);
    EXPECT_EQ(plugin.login("admin", plugin.adminPassword()).reply["response"]["HttpStatus"], 201);
}

TEST_F(PluginAbi, FirmwareAndMicrocodeUploads) {
    const std::string action = kActions + "Veltrano.InstallOrUpgradeFirmware";
    auto run = [&](const std::string& content, Json fields = Json::object()) {
        fields["absoluteFilePath"] = plugin.upload("image.bin", content);
        return plugin.post(action, fields);
    };
    Call c = run(tolvane::plugin::buildImage("Firmware", kModel, "2.1.0", "payload"));
    ASSERT_EQ(c.status, 200) << c.text;
    EXPECT_EQ(plugin.get(kStorage + "/Controllers/0").data["FirmwareVersion"], "2.1.0");

    std::string damaged = tolvane::plugin::buildImage("Firmware", kModel, "2.2.0", "payload");
    damaged.back() = 'X';
    const std::vector<std::string> bad = {
        "",
        "MZ\x90\x00 not an image",
        damaged,
        tolvane::plugin::buildImage("Firmware", "Other Model", "2.2.0", "p"),
        tolvane::plugin::buildImage("Microcode", kModel, "2.2.0", "p"),
        tolvane::plugin::buildImage("Firmware", kModel, "2.x", "p"),
        tolvane::plugin::buildImage("Firmware", kModel, "1.0.0", "p")}; // older
    for (const auto& content : bad) {
        c = run(content);
        EXPECT_EQ(c.status, 400) << content.substr(0, 20);
        EXPECT_EQ(messageId(c), "Base.1.22.1.ActionParameterValueError");
    }
    EXPECT_EQ(plugin.get(kStorage + "/Controllers/0").data["FirmwareVersion"], "2.1.0");
    c = run(tolvane::plugin::buildImage("Firmware", kModel, "1.0.0", "p"),
            {{"AllowDowngrade", true}});
    EXPECT_EQ(c.status, 200);
    c = run(tolvane::plugin::buildImage("Firmware", kModel, "3.0.0", "p"), {{"Colour", "red"}});
    EXPECT_EQ(c.status, 400);
    EXPECT_EQ(messageId(c), "Base.1.22.1.ActionParameterUnknown");

    // The JSON form of the action: the server adds an empty file path.
    c = plugin.post(action, {{"ImageURI", "x"}, {"absoluteFilePath", ""}});
    EXPECT_EQ(c.status, 400);
    EXPECT_EQ(messageId(c), "Base.1.22.1.ActionParameterMissing");
    c = plugin.post(action, {{"absoluteFilePath", ""}});
    EXPECT_EQ(c.status, 400);
    EXPECT_EQ(messageId(c), "Base.1.22.1.ActionParameterMissing");
    // Files outside the uploads directory are never read.
    writeFile(plugin.root / "elsewhere.bin",
              tolvane::plugin::buildImage("Firmware", kModel, "4.0.0", "p"));
    c = plugin.post(action, {{"absoluteFilePath", (plugin.root / "elsewhere.bin").string()}});
    EXPECT_EQ(c.status, 400);
    c = plugin.post(
        action, {{"absoluteFilePath", plugin.serverDir.string() + "/uploads/../../elsewhere.bin"}});
    EXPECT_EQ(c.status, 400);
    c = plugin.post(action,
                    {{"absoluteFilePath", plugin.serverDir.string() + "/uploads/missing.bin"}});
    EXPECT_EQ(c.status, 400);

    const std::string micro = kActions + "Veltrano.UpgradeMicrocode";
    c = plugin.post(micro, {{"absoluteFilePath",
                             plugin.upload("mc.bin", tolvane::plugin::buildImage(
                                                         "Microcode", kModel, "1.2.0", "u"))}});
    EXPECT_EQ(c.status, 200) << c.text;
    EXPECT_EQ(plugin.get(kStorage + "/Controllers/0").data["Oem"]["Veltrano"]["MicrocodeVersion"],
              "1.2.0");
    c = plugin.post(
        micro,
        {{"absoluteFilePath",
          plugin.upload("fw.bin", tolvane::plugin::buildImage("Firmware", kModel, "9.0.0", "u"))}});
    EXPECT_EQ(c.status, 400);

    c = plugin.post(kActions + "Veltrano.Explode", Json::object());
    EXPECT_EQ(c.status, 400);
    EXPECT_EQ(messageId(c), "Base.1.22.1.ActionNotSupported");
}

TEST_F(PluginAbi, ExportAndRestoreRoundTrip) {
    ASSERT_EQ(createVolume("RAID1", {0, 1}, "Keep me").status, 201);
    ASSERT_EQ(plugin.patch(kDrives + "/5", {{"HotspareType", "Global"}}).status, 200);
    Call c = plugin.post(kActions + "Veltrano.ExportConfiguration", Json::object());
    ASSERT_EQ(c.status, 200) << c.text;
    ASSERT_TRUE(c.data.contains("contentType"));
    const std::string file = c.data["fileName"];
    EXPECT_EQ(fs::path(file).parent_path(), plugin.serverDir);
    const std::string backup = readFile(file);
    EXPECT_EQ(Json::parse(backup)["Format"], "Veltrano-Configuration-Backup");

    // Change everything, then restore.
    const std::string uri = plugin.get(kVolumes).data["Members"][0]["@odata.id"];
    ASSERT_EQ(plugin.del(uri).status, 200);
    ASSERT_EQ(createVolume("RAID0", {0}, "Temporary").status, 201);
    ASSERT_EQ(plugin.patch(kDrives + "/5", {{"HotspareType", "None"}}).status, 200);

    const std::string action = kActions + "Veltrano.RestoreConfiguration";
    const std::string logPath = (plugin.logDir / "RestoreConfiguration.log").string();
    c = plugin.post(action, {{"absoluteFilePath", plugin.upload("backup.json", backup)},
                             {"logFilePath", logPath}});
    ASSERT_EQ(c.status, 200) << c.text;
    Json volumes = plugin.get(kVolumes + "?$expand=Members").data["Members"];
    ASSERT_EQ(volumes.size(), 1u);
    EXPECT_EQ(volumes[0]["Name"], "Keep me");
    EXPECT_EQ(volumes[0]["@odata.id"], uri);
    EXPECT_EQ(plugin.get(kDrives + "/5").data["HotspareType"], "Global");
    const std::string log = readFile(logPath);
    EXPECT_NE(log.find("RestoreConfiguration: started"), std::string::npos);
    EXPECT_NE(log.find("completed"), std::string::npos);

    // A damaged or foreign file is refused, logged, and changes nothing.
    std::string tampered = backup;
    tampered.replace(tampered.find("Keep me"), 7, "Keep it");
    for (const std::string& content :
         {tampered, std::string("{}"), std::string("garbage"), std::string()}) {
        c = plugin.post(action, {{"absoluteFilePath", plugin.upload("bad.json", content)},
                                 {"logFilePath", logPath}});
        EXPECT_EQ(c.status, 400) << content.substr(0, 30);
    }
    EXPECT_NE(readFile(logPath).find("failed"), std::string::npos);
    EXPECT_EQ(plugin.get(kVolumes).data["Members"].size(), 1u);
    // A log path other than the restore log of the log directory is not written.
    const fs::path foreign = plugin.root / "foreign.log";
    c = plugin.post(action, {{"absoluteFilePath", plugin.upload("b2.json", backup)},
                             {"logFilePath", foreign.string()}});
    EXPECT_EQ(c.status, 200);
    EXPECT_FALSE(fs::exists(foreign));
}

TEST_F(PluginAbi, SpdmOperations) {
    const std::string action = kActions + "Veltrano.SPDMOperations";
    const fs::path pem = plugin.root / "cert.pem";
    const std::string cmd =
        "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 30 "
        "-subj /CN=spdm-test -keyout " +
        (plugin.root / "key.pem").string() + " -out " + pem.string() + " >/dev/null 2>&1";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    Call c = plugin.post(action, {{"Operation", "GetCertificate"}});
    EXPECT_EQ(c.status, 400);
    c = plugin.post(action, {{"Operation", "SetCertificate"},
                             {"absoluteFilePath", plugin.upload("c.pem", readFile(pem))}});
    ASSERT_EQ(c.status, 200) << c.text;
    EXPECT_EQ(c.data["Certificate"]["Subject"], "CN=spdm-test");
    c = plugin.post(action, {{"Operation", "GetCertificate"}});
    EXPECT_EQ(c.status, 200);
    EXPECT_EQ(c.data["Certificate"]["FingerprintSHA256"].get<std::string>().size(), 64u);
    c = plugin.post(action, {{"Operation", "SetCertificate"},
                             {"absoluteFilePath", plugin.upload("n.pem", "not a cert")}});
    EXPECT_EQ(c.status, 400);
    c = plugin.post(action, {{"Operation", "GetMeasurements"}, {"Nonce", "abc"}});
    ASSERT_EQ(c.status, 200);
    EXPECT_EQ(c.data["Measurements"].size(), 2u);
    EXPECT_EQ(plugin.post(action, {{"Operation", "Reboot"}}).status, 400);
    EXPECT_EQ(plugin.post(action, Json::object()).status, 400);
}

TEST_F(PluginAbi, AccountManagementAndRoles) {
    const std::string accounts = "/redfish/v1/AccountService/Accounts";
    Call c = plugin.post(
        accounts, {{"UserName", "operator1"}, {"Password", "op-secret-1"}, {"RoleId", "Operator"}});
    ASSERT_EQ(c.status, 201) << c.text;
    EXPECT_TRUE(c.data["Password"].is_null());
    const std::string op = c.data["@odata.id"];
    EXPECT_EQ(
        plugin
            .post(accounts,
                  {{"UserName", "OPERATOR1"}, {"Password", "op-secret-2"}, {"RoleId", "Operator"}})
            .status,
        409);
    c = plugin.post(accounts,
                    {{"UserName", "weak"}, {"Password", "short"}, {"RoleId", "Operator"}});
    EXPECT_EQ(c.status, 400);
    EXPECT_EQ(c.text.find("short"), std::string::npos); // never echoed
    EXPECT_EQ(
        plugin.post(accounts, {{"UserName", "x"}, {"Password", "long-enough"}, {"RoleId", "God"}})
            .status,
        400);
    EXPECT_EQ(
        plugin
            .post(accounts,
                  {{"UserName", "bad name"}, {"Password", "long-enough"}, {"RoleId", "Operator"}})
            .status,
        400);
    EXPECT_EQ(plugin.post(accounts, {{"UserName", "x"}, {"RoleId", "Operator"}}).status, 400);

    Call login = plugin.login("operator1", "op-secret-1");
    EXPECT_EQ(login.reply["response"]["Data"]["Role"], "/redfish/v1/AccountService/Roles/Operator");
    // Read-only and OS users get the role URIs the server's rules know.
    ASSERT_EQ(plugin.patch(op, {{"RoleId", "ReadOnlyUser"}}).status, 200);
    EXPECT_EQ(plugin.get("/redfish/v1/SessionService/Sessions").data["Members@odata.count"],
              0); // ended
    login = plugin.login("operator1", "op-secret-1");
    EXPECT_EQ(login.reply["response"]["Data"]["Role"],
              "/redfish/v1/AccountService/Roles/ReadOnlyUser");
    EXPECT_EQ(login.reply["response"]["Data"]["OSPrivilegeLevel"], "ReadOnlyUser");
    ASSERT_EQ(plugin.patch(op, {{"RoleId", "OSUser"}}).status, 200);
    EXPECT_EQ(
        plugin.login("operator1", "op-secret-1").reply["response"]["Data"]["OSPrivilegeLevel"],
        "undefined");
    ASSERT_EQ(
        plugin.patch(op, {{"Oem", {{"Veltrano", {{"OSPrivilegeLevel", "Operator"}}}}}}).status,
        200);
    EXPECT_EQ(
        plugin.login("operator1", "op-secret-1").reply["response"]["Data"]["OSPrivilegeLevel"],
        "Operator");

    // Password change: old one stops working.
    ASSERT_EQ(plugin.patch(op, {{"Password", "new-secret-1"}}).status, 200);
    EXPECT_EQ(plugin.login("operator1", "op-secret-1").status, 401);
    EXPECT_EQ(plugin.login("operator1", "new-secret-1").reply["response"]["HttpStatus"], 201);
    // Disabled accounts cannot log in.
    ASSERT_EQ(plugin.patch(op, {{"Enabled", false}}).status, 200);
    EXPECT_EQ(plugin.login("operator1", "new-secret-1").status, 401);

    // The last administrator stays.
    EXPECT_EQ(plugin.del(accounts + "/1").status, 409);
    EXPECT_EQ(plugin.patch(accounts + "/1", {{"RoleId", "Operator"}}).status, 409);
    EXPECT_EQ(plugin.patch(accounts + "/1", {{"Enabled", false}}).status, 409);
    EXPECT_EQ(plugin.del(op).status, 200);
    EXPECT_EQ(plugin.get(op).status, 404);

    // The admin's first password file goes once the password is changed.
    ASSERT_TRUE(fs::exists(plugin.serverDir / "InitialAdminPassword.txt"));
    ASSERT_EQ(plugin.patch(accounts + "/1", {{"Password", "admin-secret-2"}}).status, 200);
    EXPECT_FALSE(fs::exists(plugin.serverDir / "InitialAdminPassword.txt"));

    Call roles = plugin.get("/redfish/v1/AccountService/Roles?$expand=Members");
    ASSERT_EQ(roles.data["Members"].size(), 5u);
    EXPECT_EQ(roles.data["Members"][3]["@odata.id"],
              "/redfish/v1/AccountService/Roles/ReadOnlyUser");
    EXPECT_EQ(roles.data["Members"][4]["@odata.id"], "/redfish/v1/AccountService/Roles/OSUser");
}

TEST(PluginAbiLifecycle, RequestsBeforeInitialisationGet503) {
    LoadedPlugin plugin;
    Call c = plugin.get("/redfish/v1/Systems");
    EXPECT_EQ(c.status, 503);
    ASSERT_TRUE(plugin.initialize());
    EXPECT_EQ(plugin.get("/redfish/v1/Systems").status, 200);
    plugin.uninitialize();
    EXPECT_EQ(plugin.get("/redfish/v1/Systems").status, 503);
}

TEST(PluginAbiLifecycle, UnwritableServerDirectoryFailsInitialisation) {
    LoadedPlugin plugin;
    if (geteuid() == 0) {
        // Root writes past permissions; a directory where the state file's
        // temporary copy goes fails the write just the same.
        fs::create_directory(plugin.serverDir / "PluginState.json.tmp");
        EXPECT_FALSE(plugin.initialize());
        EXPECT_FALSE(fs::exists(plugin.serverDir / "PluginState.json"));
        return;
    }
    fs::permissions(plugin.serverDir, fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_FALSE(plugin.initialize());
    fs::permissions(plugin.serverDir, fs::perms::owner_all);
}

TEST_F(PluginTasks, LongOperationsAnswer202AndTheirMonitorTheFinalAnswer) {
    ASSERT_EQ(as("op", "POST", kVolumes,
                 {{"RAIDType", "RAID0"}, {"CapacityBytes", 1048576}, {"Links", driveLinks({0})}})
                  .status,
              201); // below the size that makes a task
    const struct {
        std::string uri;
        Json body;
        int final;
    } rows[] = {
        {kVolumes + "/1/Actions/Volume.Initialize", {{"InitializeType", "Slow"}}, 200},
        {kVolumes,
         {{"RAIDType", "RAID0"}, {"CapacityBytes", 2000000000}, {"Links", driveLinks({1})}},
         201},
        {"/redfish/v1/UpdateService/MultipartUpload",
         {{"absoluteFilePath",
           plugin.upload("fw.img", tolvane::plugin::buildImage("Firmware", kModel, "3.0.0", "x"))}},
         200},
    };
    for (const auto& row : rows) {
        const Call started = as("op", "POST", row.uri, row.body);
        ASSERT_EQ(started.status, 202) << started.text;
        Call done;
        EXPECT_TRUE(ts::waitUntil(
            [&] { return (done = as("op", "GET", monitorOf(started))).status != 202; }));
        EXPECT_EQ(done.status, row.final) << row.uri << done.text;
        EXPECT_EQ(as("op", "GET", started.data["@odata.id"]).data["TaskState"], "Completed");
    }
    EXPECT_EQ(as("op", "GET", "/redfish/v1/UpdateService/FirmwareInventory/ControllerFirmware")
                  .data["Version"],
              "3.0.0");
}

TEST_F(PluginTasks, OnlyOwnerOrManagerSeesOrCancelsAndARestartEndsWhatRuns) {
    const std::string drive4 = kDrives + "/4", drive5 = kDrives + "/5";
    const Call erasing = as("op", "POST", drive4 + "/Actions/Drive.SecureErase");
    ASSERT_EQ(erasing.status, 202) << erasing.text;
    const std::string task = erasing.data["@odata.id"], monitor = monitorOf(erasing);
    const Call drive = as("op", "GET", drive4);
    EXPECT_EQ(drive.data["Status"]["State"], "Updating");
    EXPECT_EQ(drive.data["Operations"][0]["Operation"], "Sanitize");
    EXPECT_EQ(as("op", "PATCH", drive4, {{"LocationIndicatorActive", true}}).status, 409);
    const struct {
        const char* user;
        const char* method;
        std::string uri;
        int status;
    } access[] = {{"viewer", "GET", task, 404},
                  {"viewer", "DELETE", monitor, 404},
                  {"viewer", "GET", monitor, 404},
                  {"admin", "GET", task, 200},
                  {"OP", "GET", monitor, 202}};
    for (const auto& row : access)
        EXPECT_EQ(as(row.user, row.method, row.uri).status, row.status) << row.user << row.uri;
    EXPECT_TRUE(as("viewer", "GET", "/redfish/v1/TaskService/Tasks").data["Members"].empty());

    // Cancelled: the drive is free again, the monitor gone, the task kept.
    const Call second = as("op", "POST", drive5 + "/Actions/Drive.SecureErase");
    EXPECT_EQ(as("op", "DELETE", monitorOf(second)).data["TaskState"], "Cancelled");
    EXPECT_EQ(as("op", "GET", drive5).data["Status"]["State"], "Enabled");
    EXPECT_EQ(as("op", "GET", monitorOf(second)).status, 404);

    // A restart ends the erase still running and gives the drive back.
    plugin.uninitialize();
    ASSERT_TRUE(plugin.initialize());
    const Call ended = as("op", "GET", task);
    EXPECT_EQ(ended.data["TaskState"], "Exception");
    EXPECT_EQ(ended.data["Messages"][1]["MessageId"], "Base.1.22.1.ServiceShuttingDown");
    EXPECT_EQ(as("op", "GET", monitor).status, 503);
    EXPECT_EQ(as("op", "GET", drive4).data["Status"]["State"], "Enabled");
    EXPECT_EQ(as("op", "DELETE", task).status, 200);
    EXPECT_EQ(as("op", "GET", task).status, 404);
}
