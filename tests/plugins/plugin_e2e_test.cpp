// The bundled plug-ins inside the real server over HTTPS: logins and role
// rules, volumes, the OEM actions with uploads and file answers, and state
// that outlives a restart.
#include <set>

#include <gtest/gtest.h>

#include "imageformat.h"
#include "testsupport.h"

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

namespace {

const std::string kStorage = "/redfish/v1/Systems/1/Storage/1";
const std::string kVolumes = kStorage + "/Volumes";
const std::string kActions = kStorage + "/Actions/Oem/";
const std::string kDrives = "/redfish/v1/Chassis/1/Drives";

Json body(const ts::Response& r) {
    try {
        return Json::parse(r.body);
    } catch (...) {
        return Json();
    }
}

// Over HTTPS; restarted in place where state must outlive a restart.
class BundledServer : public ::testing::Test, protected ts::BundledServer {
  protected:
    explicit BundledServer(const ts::InstallOptions& options = ts::bundled("", true))
        : ts::BundledServer(options) {}
    void SetUp() override { ASSERT_EQ(start(), ""); }
    std::string adminToken() {
        ts::Response r = createSession("admin", password());
        EXPECT_EQ(r.status, 201) << r.raw;
        return r.header("X-Auth-Token");
    }
    ts::Response upload(const std::string& action, const std::string& token,
                        const std::string& fileName, const std::string& content,
                        std::vector<ts::FormPart> fields = {}) {
        return uploadTo(kActions + action, token, fileName, content, std::move(fields));
    }
    ts::Response uploadTo(const std::string& target, const std::string& token,
                          const std::string& fileName, const std::string& content,
                          std::vector<ts::FormPart> fields = {}) {
        const std::string boundary = "----tolvaneboundary7d1";
        fields.push_back({"UpdateFile", fileName, content});
        return ts::request(
            tree.port, "POST", target,
            {"X-Auth-Token: " + token, "Content-Type: multipart/form-data; boundary=" + boundary},
            ts::multipartBody(boundary, fields), true);
    }
};

// Tasks through the server in both profiles; images finish at once and may
// come from loopback.
class BundledTasks : public BundledServer, public ::testing::WithParamInterface<const char*> {
  protected:
    BundledTasks()
        : BundledServer(ts::bundled(
              GetParam(), true,
              "\"TaskImageBytesPerSecond\":1e12,\"UpdateServiceLocalImageSources\":true")) {}
};

} // namespace

TEST_F(BundledServer, LoginLogoutAndRoleRules) {
    ts::Response bad = createSession("admin", "not-the-password");
    EXPECT_EQ(bad.status, 401);
    EXPECT_EQ(body(bad)["error"]["@Message.ExtendedInfo"][0]["MessageId"],
              "Base.1.22.1.ResourceAtUriUnauthorized");
    EXPECT_FALSE(bad.hasHeader("X-Auth-Token"));

    ts::Response ok = createSession("admin", password());
    ASSERT_EQ(ok.status, 201) << ok.raw;
    const std::string token = ok.header("X-Auth-Token");
    EXPECT_GE(token.size(), 32u);
    Json session = body(ok);
    EXPECT_EQ(ok.header("Location"), session["@odata.id"]);
    EXPECT_EQ(session["UserName"], "admin");

    EXPECT_EQ(send("GET", "/redfish/v1/Systems", "").status, 401);
    ts::Response systems = send("GET", "/redfish/v1/Systems", token);
    EXPECT_EQ(systems.status, 200);
    EXPECT_EQ(body(systems)["Members"][0]["@odata.id"], "/redfish/v1/Systems/1");

    // A read-only user can log in but is refused everything else.
    ts::Response created =
        send("POST", "/redfish/v1/AccountService/Accounts", token,
             Json{{"UserName", "viewer"}, {"Password", "viewer-pass"}, {"RoleId", "ReadOnlyUser"}}
                 .dump());
    ASSERT_EQ(created.status, 201) << created.raw;
    ts::Response viewer = createSession("viewer", "viewer-pass");
    ASSERT_EQ(viewer.status, 201);
    EXPECT_EQ(send("GET", "/redfish/v1/Systems", viewer.header("X-Auth-Token")).status, 401);
    // An operator may work with the storage.
    ASSERT_EQ(
        send("POST", "/redfish/v1/AccountService/Accounts", token,
             Json{{"UserName", "op"}, {"Password", "operator-pass"}, {"RoleId", "Operator"}}.dump())
            .status,
        201);
    ts::Response op = createSession("op", "operator-pass");
    EXPECT_EQ(send("GET", kVolumes, op.header("X-Auth-Token")).status, 200);

    // Logout ends the session for its token.
    ts::Response out = send("DELETE", ok.header("Location"), token);
    EXPECT_EQ(out.status, 200);
    EXPECT_EQ(send("GET", "/redfish/v1/Systems", token).status, 401);
}

TEST_F(BundledServer, VolumesCreatePatchDeleteWithErrors) {
    const std::string token = adminToken();
    Json spec = {{"Name", "Fast"},
                 {"RAIDType", "RAID0"},
                 {"Links",
                  {{"Drives", Json::array({Json{{"@odata.id", kDrives + "/0"}},
                                           Json{{"@odata.id", kDrives + "/1"}}})}}}};
    ts::Response r = send("POST", kVolumes, token, spec.dump());
    ASSERT_EQ(r.status, 201) << r.raw;
    const std::string uri = body(r)["@odata.id"];
    EXPECT_EQ(body(r)["CapacityBytes"], 2 * 960197124096ULL);

    r = send("POST", kVolumes, token, spec.dump());
    EXPECT_EQ(r.status, 409); // name and drives' space taken
    spec["Name"] = "Other";
    r = send("POST", kVolumes, token, spec.dump());
    EXPECT_EQ(r.status, 409);
    r = send("POST", kVolumes, token, "{\"RAIDType\":");
    EXPECT_EQ(r.status, 400);
    EXPECT_EQ(body(r)["error"]["code"], "Base.1.22.1.MalformedJSON");

    r = send("PATCH", uri, token, Json{{"Name", "Renamed"}}.dump());
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(body(r)["Name"], "Renamed");
    r = send("PATCH", uri, token, Json{{"RAIDType", "RAID1"}}.dump());
    EXPECT_EQ(r.status, 400);
    EXPECT_EQ(body(r)["error"]["code"], "Base.1.22.1.PropertyNotWritable");
    EXPECT_EQ(send("PATCH", "/redfish/v1/Systems/1", token, "{}").status, 405);

    ts::Response expanded = send("GET", kVolumes + "?$expand=Members", token);
    EXPECT_EQ(body(expanded)["Members"][0]["Name"], "Renamed");

    EXPECT_EQ(send("DELETE", uri, token).status, 200);
    EXPECT_EQ(send("GET", uri, token).status, 404);
    EXPECT_EQ(send("DELETE", uri, token).status, 404);
}

TEST_F(BundledServer, OemActionsWithGoodAndBadFiles) {
    const std::string token = adminToken();
    const std::string model = "Veltrano RC-8i";
    ts::Response r = upload(
        "Veltrano.InstallOrUpgradeFirmware", token, "C:\\images\\fw.img",
        tolvane::plugin::buildImage("Firmware", model, "2.0.0", std::string("\0\1\2payload", 10)));
    ASSERT_EQ(r.status, 200) << r.raw;
    EXPECT_EQ(body(send("GET", kStorage + "/Controllers/0", token))["FirmwareVersion"], "2.0.0");
    EXPECT_FALSE(fs::exists(tree.serverDir + "uploads/fw.img")); // the server removed it

    r = upload("Veltrano.InstallOrUpgradeFirmware", token, "bad.img", "this is not an image");
    EXPECT_EQ(r.status, 400);
    EXPECT_EQ(body(r)["error"]["code"], "Base.1.22.1.ActionParameterValueError");
    r = upload("Veltrano.InstallOrUpgradeFirmware", token, "old.img",
               tolvane::plugin::buildImage("Firmware", model, "1.5.0", "x"),
               {{"AllowDowngrade", "", "true"}});
    EXPECT_EQ(r.status, 200) << r.raw;
    // The JSON form of the firmware action carries no file.
    r = send("POST", kActions + "Veltrano.InstallOrUpgradeFirmware", token,
             "{\"ImageURI\":\"fw.img\"}");
    EXPECT_EQ(r.status, 400);
    EXPECT_EQ(body(r)["error"]["code"], "Base.1.22.1.ActionParameterMissing");

    r = upload("Veltrano.UpgradeMicrocode", token, "mc.img",
               tolvane::plugin::buildImage("Microcode", model, "1.1.0", "m"));
    EXPECT_EQ(r.status, 200) << r.raw;
    r = upload("Veltrano.UpgradeMicrocode", token, "empty.img", "");
    EXPECT_EQ(r.status, 400);

    r = upload("Veltrano.SPDMOperations", token, "cert.pem", ts::readFile(ts::testCertificate()),
               {{"Operation", "", "SetCertificate"}});
    EXPECT_EQ(r.status, 200) << r.raw;
    EXPECT_EQ(body(r)["Operation"], "SetCertificate");
    r = upload("Veltrano.SPDMOperations", token, "junk.pem", "-----BEGIN CERTIFICATE-----\nxx\n",
               {{"Operation", "", "SetCertificate"}});
    EXPECT_EQ(r.status, 400);
    r = send("POST", kActions + "Veltrano.SPDMOperations", token,
             "{\"Operation\":\"GetMeasurements\"}");
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(body(r)["Measurements"][0]["Version"], "1.5.0");
}

TEST_F(BundledServer, ExportRestoreRoundTripAndStateAcrossRestart) {
    const std::string token = adminToken();
    Json spec = {{"Name", "Precious"},
                 {"RAIDType", "RAID1"},
                 {"Links",
                  {{"Drives", Json::array({Json{{"@odata.id", kDrives + "/2"}},
                                           Json{{"@odata.id", kDrives + "/3"}}})}}}};
    ts::Response r = send("POST", kVolumes, token, spec.dump());
    ASSERT_EQ(r.status, 201) << r.raw;
    const std::string uri = body(r)["@odata.id"];

    ts::Response exported = send("POST", kActions + "Veltrano.ExportConfiguration", token, "{}");
    ASSERT_EQ(exported.status, 200) << exported.raw;
    EXPECT_EQ(exported.header("Content-Type"), "application/octet-stream");
    EXPECT_EQ(exported.body, ts::readFile(tree.serverDir + "ConfigurationBackup.json"));
    ASSERT_EQ(body(exported)["Format"], "Veltrano-Configuration-Backup");

    ASSERT_EQ(send("DELETE", uri, token).status, 200);
    r = upload("Veltrano.RestoreConfiguration", token, "backup.json", exported.body);
    ASSERT_EQ(r.status, 200) << r.raw;
    EXPECT_EQ(body(send("GET", uri, token))["Name"], "Precious");
    const std::string restoreLog = ts::readFile(tree.logDir + "RestoreConfiguration.log");
    EXPECT_NE(restoreLog.find("completed"), std::string::npos) << restoreLog;

    std::string damaged = exported.body;
    damaged.replace(damaged.find("Precious"), 8, "Tampered");
    r = upload("Veltrano.RestoreConfiguration", token, "damaged.json", damaged);
    EXPECT_EQ(r.status, 400);
    EXPECT_EQ(body(send("GET", uri, token))["Name"], "Precious");

    // A restart keeps volumes and accounts.
    const std::string before = password();
    server->stop();
    ASSERT_EQ(start(), "");
    ts::Response again = createSession("admin", before);
    ASSERT_EQ(again.status, 201);
    EXPECT_EQ(body(send("GET", uri, again.header("X-Auth-Token")))["Name"], "Precious");
    // The log plug-in wrote the operational lines.
    EXPECT_NE(ts::readFile(tree.logDir + "RedfishServer.log").find("REDFISHSERVER"),
              std::string::npos);
}

// The OEM schema's CSDL reaches the client as XML text, not wrapped in JSON.
TEST_F(BundledServer, OemCsdlReachesTheClientAsXml) {
    ts::Response csdl =
        send("GET", "/redfish/v1/JsonSchemas/Veltrano/Veltrano_v1.xml", adminToken());
    ASSERT_EQ(csdl.status, 200) << csdl.raw;
    EXPECT_EQ(csdl.body.rfind("<?xml", 0), 0u) << csdl.body.substr(0, 200);
    EXPECT_NE(csdl.body.find("Namespace=\"Veltrano.v1_0_0\""), std::string::npos);
}

TEST_P(BundledTasks, AcceptedUpdatesNameTheirMonitorAndFinishThere) {
    const std::string token = adminToken();
    const bool standard = std::string(GetParam()) == "Standard";
    EXPECT_EQ(body(send("GET", "/redfish/v1", "")).contains("UpdateService"), standard);
    const std::string inventory = "/redfish/v1/UpdateService/FirmwareInventory/";
    const std::string image =
        tolvane::plugin::buildImage("Microcode", "Veltrano RC-8i", "4.0.0", "m");
    ts::CannedServer source([&](int, const std::string&) {
        return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(image.size()) + "\r\n\r\n" +
               image;
    });
    const ts::Response started[] = {
        uploadTo("/redfish/v1/UpdateService/MultipartUpload", token, "fw.img",
                 tolvane::plugin::buildImage("Firmware", "Veltrano RC-8i", "3.0.0", "f")),
        send("POST", "/redfish/v1/UpdateService/Actions/UpdateService.SimpleUpdate", token,
             Json{{"ImageURI", source.url("/image.bin")},
                  {"Targets", {inventory + "ControllerMicrocode"}}}
                 .dump()),
    };
    for (const ts::Response& r : started) {
        ASSERT_EQ(r.status, 202) << r.raw;
        EXPECT_FALSE(r.header("Retry-After").empty());
        ts::Response done;
        EXPECT_TRUE(ts::waitUntil(
            [&] { return (done = send("GET", r.header("Location"), token)).status != 202; }));
        EXPECT_EQ(done.status, 200) << done.raw;
    }
    EXPECT_EQ(body(send("GET", inventory + "ControllerFirmware", token))["Version"], "3.0.0");
    EXPECT_EQ(body(send("GET", inventory + "ControllerMicrocode", token))["Version"], "4.0.0");
}

INSTANTIATE_TEST_SUITE_P(Profiles, BundledTasks, ::testing::Values("Classic", "Standard"));

namespace {

class StandardBundled : public BundledServer {
  protected:
    StandardBundled() : BundledServer(ts::bundled("Standard", true)) {}
};

} // namespace

// The manager names the service as the root does and shows the host's
// interfaces and the listening protocol as they are; it changes none.
TEST_F(StandardBundled, ManagerShowsTheServiceIdentityAndTheHostNetwork) {
    const std::string token = adminToken();
    const std::string manager = "/redfish/v1/Managers/1";
    const Json root = body(send("GET", "/redfish/v1", token));
    const Json m = body(send("GET", manager, token));
    EXPECT_EQ(m["UUID"], root["UUID"]);
    EXPECT_EQ(m["DateTimeLocalOffset"], "+00:00");
    EXPECT_EQ(root["ProtocolFeaturesSupported"]["MultipleHTTPRequests"], true);
    EXPECT_FALSE(root.value("Vendor", "").empty());

    const Json protocols = body(send("GET", manager + "/NetworkProtocol", token));
    EXPECT_EQ(
        protocols["HTTPS"],
        Json({{"ProtocolEnabled", true},
              {"Port", tree.port},
              {"Certificates", {{"@odata.id", manager + "/NetworkProtocol/HTTPS/Certificates"}}}}));
    EXPECT_EQ(protocols["HTTP"]["ProtocolEnabled"], false);

    std::set<std::string> expected;
    for (const auto& entry : fs::directory_iterator("/sys/class/net")) {
        if (!(std::stoul(ts::readFile(entry.path() / "flags"), nullptr, 16) & 0x8)) // loopback
            expected.insert(entry.path().filename());
    }
    std::set<std::string> listed;
    const Json interfaces = body(send("GET", manager + "/EthernetInterfaces", token));
    for (const Json& member : interfaces["Members"])
        listed.insert(member["@odata.id"].get<std::string>().substr(manager.size() + 20));
    EXPECT_EQ(listed, expected);
    for (const std::string& name : listed) {
        const std::string uri = manager + "/EthernetInterfaces/" + name;
        const Json nic = body(send("GET", uri, token));
        const std::string mac = ts::readFile("/sys/class/net/" + name + "/address");
        EXPECT_EQ(nic.value("MACAddress", "") + "\n", mac) << name;
        EXPECT_EQ(send("PATCH", uri, token, R"({"InterfaceEnabled":false})").status, 405);
    }
    EXPECT_EQ(send("GET", manager + "/EthernetInterfaces/lo", token).status, 404);
}

// The audit log through its log service: newest first, in pages that name
// the next one, each entry readable by its Id; only ConfigureManager clears.
TEST_F(StandardBundled, LogEntriesComeNewestFirstInPagesAndClearingNeedsConfigureManager) {
    std::string older;
    for (int i = 0; i < 120; ++i)
        older += "2026-01-01T00:00:00Z address=192.0.2.1 user=\"admin\" event=AccountCreate "
                 "outcome=201 success target=/x account=\"acct" +
                 std::to_string(i) + "\"\n";
    ts::writeFile(tree.logDir + "RedfishAudit.log.2", older);
    const struct {
        std::string text, messageId;
    } lines[] = {{"m:f.cpp:1:g()::[INFO]Started.", "VeltranoLog.1.0.LogLine"},
                 {"m:f.cpp:2:g()::[ERROR]Disk gone.", "VeltranoLog.1.0.LogLineWarning"}};
    ts::writeFile(tree.logDir + "RedfishServer.log.2", "2026-01-01T00:00:00Z " + lines[0].text +
                                                           "\n2026-01-01T00:00:00Z " +
                                                           lines[1].text + "\n");
    const std::string token = adminToken();
    ASSERT_EQ(send("POST", "/redfish/v1/AccountService/Accounts", token,
                   R"({"UserName":"reader","Password":"reader-pass-1","RoleId":"ReadOnly"})")
                  .status,
              201);
    const std::string reader = createSession("reader", "reader-pass-1").header("X-Auth-Token");
    const std::string audit = "/redfish/v1/Managers/1/LogServices/AuditLog";
    const std::string entries = audit + "/Entries";

    const Json first = body(send("GET", entries + "?$top=2", reader));
    const size_t total = first["Members@odata.count"];
    EXPECT_GE(total, 123u); // two logins and an account creation besides
    EXPECT_EQ(first["Members"].size(), 2u);
    EXPECT_EQ(first["Members@odata.nextLink"], entries + "?$skip=2&$top=2");
    const Json newest = body(send("GET", first["Members"][0]["@odata.id"], reader));
    EXPECT_EQ(newest["MessageId"], "AccountSecurity.1.0.1.SuccessfulLogin");
    EXPECT_EQ(newest["MessageArgs"][0], "reader");

    const Json last = body(send("GET", entries + "?$skip=" + std::to_string(total - 3), reader));
    ASSERT_EQ(last["Members"].size(), 3u);
    EXPECT_FALSE(last.contains("Members@odata.nextLink"));
    for (size_t i = 0; i < 3; ++i) {
        const Json entry = body(send("GET", last["Members"][i]["@odata.id"], reader));
        EXPECT_EQ(entry["MessageArgs"], Json::array({"acct" + std::to_string(2 - i)}));
        EXPECT_EQ(entry["Created"], "2026-01-01T00:00:00Z");
    }

    const struct {
        std::string target;
        int status;
    } refused[] = {{entries + "?$top=many", 400},
                   {entries + "/ffff-0", 404},
                   {"/redfish/v1/Managers/1/LogServices/Elsewhere", 404}};
    for (const auto& row : refused)
        EXPECT_EQ(send("GET", row.target, reader).status, row.status) << row.target;

    // Collections the plug-in has whole are cut the same way.
    const Json roles = body(send("GET", "/redfish/v1/AccountService/Roles?$skip=1&$top=1", reader));
    EXPECT_EQ(roles["Members"].size(), 1u);
    EXPECT_EQ(roles["Members@odata.nextLink"], "/redfish/v1/AccountService/Roles?$skip=2&$top=1");

    const std::string clear = audit + "/Actions/LogService.ClearLog";
    EXPECT_EQ(send("POST", clear, reader, "{}").status, 403);
    EXPECT_EQ(send("POST", clear, token, "{}").status, 200);
    EXPECT_EQ(body(send("GET", entries, token))["Members@odata.count"], 0);
    const Json log =
        body(send("GET", "/redfish/v1/Managers/1/LogServices/Log/Entries?$expand=*", token));
    bool said = false;
    for (const Json& entry : log["Members"])
        said = said || (entry.value("MessageId", "") == "LogService.1.1.0.LogCleared" &&
                        entry["MessageArgs"] == Json::array({"AuditLog"}));
    EXPECT_TRUE(said) << log.dump();
    // Lines no DMTF message fits are messages of the registry the root links.
    const Json files = body(
        send("GET", body(send("GET", "/redfish/v1", token))["Registries"]["@odata.id"], token));
    const Json file = body(send("GET", files["Members"][0]["@odata.id"], token));
    const Json registry = body(send("GET", file["Location"][0]["Uri"], token));
    const std::string service = "/redfish/v1/Managers/1/LogServices/Log/Entries";
    const size_t count = body(send("GET", service, token))["Members@odata.count"];
    const Json oldest = body(send("GET", service + "?$skip=" + std::to_string(count - 2), token));
    for (size_t i = 0; i < 2; ++i) {
        const Json& entry = oldest["Members"][1 - i];
        EXPECT_EQ(entry["EntryType"], "Event");
        EXPECT_EQ(entry["MessageId"], lines[i].messageId);
        EXPECT_EQ(entry["MessageArgs"], Json::array({lines[i].text}));
        EXPECT_TRUE(registry["Messages"].contains(
            lines[i].messageId.substr(lines[i].messageId.rfind('.') + 1)));
    }
}
