// Attacks on the resource plug-in, through its C entry points with the
// argument texts the server sends, or on the pieces linked directly. Each
// test is named for the attack it stops.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdarg>
#include <functional>
#include <future>
#include <optional>
#include <shared_mutex>
#include <sstream>

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include "accounts.h"
#include "boundedjson.h"
#include "crypto.h"
#include "imageformat.h"
#include "persistence.h"
#include "pluginlog.h"
#include "service.h"

#include "pluginharness.h"

using namespace plugintest;
namespace fs = std::filesystem;

namespace {

const std::string kSessions = "/redfish/v1/SessionService/Sessions";
const std::string kStorage = "/redfish/v1/Systems/1/Storage/1";
const std::string kVolumes = kStorage + "/Volumes";
const std::string kDrives = "/redfish/v1/Chassis/1/Drives";
const std::string kActions = kStorage + "/Actions/Oem/";
// Far below what the quadratic or unbounded parse took, far above a linear one.
// Only a hang (or a parse gone quadratic) takes this long, also under the
// sanitizers on a loaded machine; how fast it is belongs to the benchmarks.
constexpr auto kHang = std::chrono::seconds(60);

std::string nested(size_t depth) {
    return std::string(depth, '[') + std::string(depth, ']');
}

std::string manyKeys(size_t count) {
    std::string text = "{";
    for (size_t i = 0; i < count; ++i)
        text += (i ? ",\"k" : "\"k") + std::to_string(i) + "\":0";
    return text + "}";
}

std::string loginArgs(const std::string& requestBody) {
    return Json{{"x-forwarded-for", "h"}, {"requestBody", requestBody}, {"clientAddress", "h"}}
        .dump();
}

class Hardening : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(plugin.initialize()); }
    Call restore(const std::string& content, const std::string& logPath = "") {
        Json args = {{"absoluteFilePath", plugin.upload("backup.json", content)}};
        if (!logPath.empty())
            args["logFilePath"] = logPath;
        return plugin.post(kActions + "Veltrano.RestoreConfiguration", args);
    }
    // The current configuration as a backup, with one volume in it.
    Json exported() {
        Json body = {
            {"RAIDType", "RAID1"},
            {"Name", "Keep"},
            {"Links",
             {{"Drives", {{{"@odata.id", kDrives + "/0"}}, {{"@odata.id", kDrives + "/1"}}}}}}};
        EXPECT_EQ(plugin.post(kVolumes, body).status, 201);
        Call c = plugin.post(kActions + "Veltrano.ExportConfiguration", Json::object());
        return Json::parse(readFile(c.data["fileName"].get<std::string>()));
    }
    static std::string resigned(Json backup) {
        backup["SHA256"] = tolvane::plugin::crypto::sha256Hex(backup["Configuration"].dump());
        return backup.dump();
    }
    LoadedPlugin plugin;
};

} // namespace

TEST(BoundedJson, BudgetsHoldAndRepeatedNamesKeepFirstPlaceLastValue) {
    using Kind = tolvane::plugin::JsonTextError::Kind;
    struct Case {
        std::string text;
        std::optional<Kind> refused;
    };
    const std::vector<Case> cases = {
        {nested(64), std::nullopt},
        {nested(65), Kind::TooDeep},
        {manyKeys(10000), std::nullopt},
        {manyKeys(10001), Kind::TooManyMembers},
        {"[" + std::string(3u << 20, ' ') + "]", Kind::TooLarge},
        {"{\"a\":1,}", Kind::Malformed},
        {"{\"x\":1e400}", Kind::NumberOutOfRange},
    };
    for (const auto& tc : cases) {
        try {
            tolvane::plugin::parseJson(tc.text);
            EXPECT_FALSE(tc.refused) << tc.text.substr(0, 40);
        } catch (const tolvane::plugin::JsonTextError& e) {
            EXPECT_EQ(tc.refused, e.kind()) << tc.text.substr(0, 40);
        }
    }
    const Json j = tolvane::plugin::parseJson("{\"a\":1,\"b\":2,\"a\":{\"c\":3}}");
    EXPECT_EQ(j.dump(), "{\"a\":{\"c\":3},\"b\":2}");
}

TEST_F(Hardening, DeepNestingAndManyKeysAreRefusedFastWithoutCrash) {
    const std::string deep = nested(100000);
    const std::string keys = manyKeys(131000);
    const std::string backupHead = "{\"Format\":\"Veltrano-Configuration-Backup\",\"x\":";
    const std::string restoreUri = kActions + "Veltrano.RestoreConfiguration";
    auto uploaded = [&](const std::string& name, const std::string& content) {
        return Json{{"absoluteFilePath", plugin.upload(name, content)}}.dump();
    };
    struct Case {
        std::string name, uri, body;
    };
    const std::vector<Case> cases = {
        {"login user name nested 100,000 deep", kSessions,
         loginArgs("{\"UserName\":" + deep + ",\"Password\":\"p\"}")},
        {"login body with 131,000 keys", kSessions, loginArgs(keys)},
        {"volume name nested 100,000 deep", kVolumes, "{\"Name\":" + deep + "}"},
        {"volume body with 131,000 keys", kVolumes, keys},
        {"restore of 100,000 nested arrays", restoreUri,
         uploaded("deep.json", backupHead + deep + "}")},
        {"restore of 64 MiB unclosed [", restoreUri,
         uploaded("open.json", std::string(64u << 20, '['))},
        {"restore with 260,000 keys", restoreUri,
         uploaded("keys.json", backupHead + manyKeys(260000) + "}")},
    };
    for (const auto& tc : cases) {
        const auto start = std::chrono::steady_clock::now();
        Call c = plugin.call("POST", tc.uri, tc.body);
        EXPECT_LT(std::chrono::steady_clock::now() - start, kHang) << tc.name << ": hung";
        EXPECT_EQ(c.status, 400) << tc.name << ": " << c.text.substr(0, 300);
        EXPECT_TRUE(c.data["error"].contains("code")) << tc.name;
    }
    EXPECT_EQ(plugin.get(kVolumes).data["Members"].size(), 0u);
}
TEST_F(Hardening, ForgedRestoreRowsAreRefused) {
    const Json backup = exported();
    using Edit = std::function<void(Json & volume)>;
    auto set = [](const char* name, Json value) -> Edit {
        return [=](Json& v) { v[name] = value; };
    };
    const std::vector<std::pair<std::string, Edit>> cases = {
        {"RAID0 over drive 0 eight times",
         [](Json& v) {
             v["RAIDType"] = "RAID0";
             v["Drives"] = Json::array({"0", "0", "0", "0", "0", "0", "0", "0"});
             v["CapacityBytes"] = 8 * 960197124096ULL;
         }},
        {"Id with a slash", set("Id", "a/b")},
        {"Id ..", set("Id", "..")},
        {"Id with ? and #", set("Id", "x?y#z")},
        {"empty name", set("Name", "")},
        {"5,000-character name", set("Name", std::string(5000, 'n'))},
        {"name with a line break", set("Name", "Keep\r\nmore")},
        {"65-character DisplayName", set("DisplayName", std::string(65, 'd'))},
        {"30 MB DisplayName", set("DisplayName", std::string(30u << 20, 'd'))},
        {"CapacityBytes 1e300", set("CapacityBytes", 1e300)},
        {"CapacityBytes -1.5", set("CapacityBytes", -1.5)},
        {"CapacityBytes -1", set("CapacityBytes", -1)},
        {"StripSizeBytes 3", set("StripSizeBytes", 3)},
        {"UUID that is not one", set("UUID", "x\ny")},
        {"unknown member", set("Colour", "red")},
    };
    for (const auto& [name, edit] : cases) {
        Json forged = backup;
        edit(forged["Configuration"]["Volumes"][0]);
        Call c = restore(resigned(forged));
        EXPECT_EQ(c.status, 400) << name << ": " << c.text.substr(0, 300);
        EXPECT_TRUE(c.data["error"].contains("code")) << name;
    }
    Json volumes = plugin.get(kVolumes + "?$expand=Members").data["Members"];
    ASSERT_EQ(volumes.size(), 1u);
    EXPECT_EQ(volumes[0]["Name"], "Keep");
    // The checksum is no seal: an edit the REST API would allow is restored.
    Json edited = backup;
    edited["Configuration"]["Volumes"][0]["Name"] = "Edited by hand";
    EXPECT_EQ(restore(resigned(edited)).status, 200);
}
// A volume Id at the top of the range left the next volume an Id that no
// restore takes: every later export was unrestorable.
TEST_F(Hardening, RestoreRefusesAVolumeIdThatLeavesTheNextVolumeNone) {
    Json forged = exported();
    forged["Configuration"]["Volumes"][0]["Id"] = "9999999999999999999";
    const Call refused = restore(resigned(forged));
    EXPECT_EQ(refused.status, 400) << refused.text.substr(0, 300);
    EXPECT_NE(refused.text.find("9999999999999999999"), std::string::npos) << refused.text;
    EXPECT_EQ(plugin.get(kVolumes + "/1").status, 200) << "the refused restore changed nothing";
}
TEST_F(Hardening, NumbersPastTheirRangeGet400Not500) {
    const std::string links = "\"Links\":{\"Drives\":[{\"@odata.id\":\"" + kDrives + "/0\"}]}";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {kVolumes, "{\"RAIDType\":\"RAID0\"," + links + ",\"CapacityBytes\":1e400}"},
        {kVolumes, "{\"RAIDType\":\"RAID0\"," + links + ",\"CapacityBytes\":-1e400}"},
        {kVolumes, "{\"RAIDType\":\"RAID0\"," + links + ",\"CapacityBytes\":1e300}"},
        {kVolumes,
         "{\"RAIDType\":\"RAID0\"," + links + ",\"CapacityBytes\":184467440737095516160}"},
        {kVolumes, "{\"RAIDType\":\"RAID0\"," + links + ",\"StripSizeBytes\":1e400}"},
        {kSessions, loginArgs("{\"UserName\":\"admin\",\"Password\":1e400}")},
    };
    for (const auto& [uri, body] : cases) {
        Call c = plugin.call("POST", uri, body);
        EXPECT_EQ(c.status, 400) << body << " -> " << c.text;
        EXPECT_TRUE(c.data["error"].contains("code")) << body;
    }
    EXPECT_EQ(plugin.get(kVolumes).data["Members"].size(), 0u);
}
TEST_F(Hardening, LockoutFromOneAddressDoesNotLockOthers) {
    const std::string good = plugin.adminPassword();
    for (int i = 0; i < 5; ++i)
        ASSERT_EQ(plugin.loginFrom("admin", "wrong-password", "192.0.2.1").status, 401);
    EXPECT_EQ(plugin.loginFrom("admin", good, "192.0.2.1").status, 401);
    EXPECT_EQ(plugin.loginFrom("admin", good, "192.0.2.2").reply["response"]["HttpStatus"], 201);
    EXPECT_EQ(plugin.login("admin", good).reply["response"]["HttpStatus"], 201);
    // Old servers send no address: they share one, locked apart from the rest.
    for (int i = 0; i < 5; ++i)
        ASSERT_EQ(plugin.login("admin", "wrong-password").status, 401);
    EXPECT_EQ(plugin.login("admin", good).status, 401);
    EXPECT_EQ(plugin.loginFrom("admin", good, "2001:db8::7").reply["response"]["HttpStatus"], 201);
    EXPECT_EQ(plugin.get("/redfish/v1/AccountService/Accounts/1").data["Locked"], true);
}
TEST_F(Hardening, UploadPathsOutsideTheUploadsDirectoryAreRefused) {
    const std::string image =
        tolvane::plugin::buildImage("Firmware", "Veltrano RC-8i", "7.0.0", "p");
    const fs::path uploads = plugin.serverDir / "uploads";
    writeFile(plugin.root / "outside.bin", image);
    const std::string inside = plugin.upload("inside.bin", image);
    fs::create_symlink(plugin.root / "outside.bin", uploads / "link-out.bin");
    fs::create_symlink(inside, uploads / "link-in.bin");
    writeFile(uploads / "sub" / "deeper.bin", image);
    fs::create_directory(uploads / "dir.bin");
    ASSERT_EQ(mkfifo((uploads / "fifo.bin").c_str(), 0600), 0);
    const std::vector<std::string> paths = {
        (uploads / "link-out.bin").string(),
        (uploads / "link-in.bin").string(),
        (uploads / "sub" / "deeper.bin").string(),
        (uploads / "sub" / ".." / "inside.bin").string(),
        (uploads / "." / "inside.bin").string(),
        "uploads/inside.bin",
        (uploads / "dir.bin").string(),
        (uploads / "fifo.bin").string(),
        (plugin.root / "outside.bin").string(),
    };
    for (const auto& path : paths) {
        Call c = plugin.post(kActions + "Veltrano.InstallOrUpgradeFirmware",
                             {{"absoluteFilePath", path}});
        EXPECT_EQ(c.status, 400) << path << " -> " << c.text.substr(0, 200);
    }
    EXPECT_EQ(plugin.get(kStorage + "/Controllers/0").data["FirmwareVersion"], "1.0.0");
}
namespace {
// A self-signed certificate valid from now + `from` to now + `to` seconds,
// with `units` extra 60-character OU entries in its subject.
std::string makeCertificate(long from, long to, int units) {
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(EVP_EC_gen("P-256"), EVP_PKEY_free);
    std::unique_ptr<X509, decltype(&X509_free)> cert(X509_new(), X509_free);
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), from);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), to);
    X509_NAME* name = X509_get_subject_name(cert.get());
    const std::string unit(60, 'u');
    for (int i = 0; i < units; ++i)
        X509_NAME_add_entry_by_txt(name, "OU", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>(unit.c_str()), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("spdm-test"), -1, -1, 0);
    X509_set_issuer_name(cert.get(), name);
    X509_set_pubkey(cert.get(), key.get());
    X509_sign(cert.get(), key.get(), EVP_sha256());
    std::unique_ptr<BIO, decltype(&BIO_free)> out(BIO_new(BIO_s_mem()), BIO_free);
    PEM_write_bio_X509(out.get(), cert.get());
    char* data = nullptr;
    long n = BIO_get_mem_data(out.get(), &data);
    return std::string(data, static_cast<size_t>(n));
}
} // namespace

TEST_F(Hardening, CertificatesNotValidNowOrWithHugeSubjectsAreRefused) {
    const long day = 86400;
    struct Case {
        std::string name;
        std::string pem;
        int status;
    };
    const std::vector<Case> cases = {
        {"not yet valid", makeCertificate(day, 30 * day, 0), 400},
        {"expired", makeCertificate(-30 * day, -day, 0), 400},
        {"subject over 1024 bytes", makeCertificate(-day, 30 * day, 20), 400},
        {"valid now", makeCertificate(-day, 30 * day, 1), 200},
    };
    for (const auto& tc : cases) {
        Call c = plugin.post(kActions + "Veltrano.SPDMOperations",
                             {{"Operation", "SetCertificate"},
                              {"absoluteFilePath", plugin.upload("c.pem", tc.pem)}});
        EXPECT_EQ(c.status, tc.status) << tc.name << ": " << c.text.substr(0, 200);
    }
}
TEST_F(Hardening, ControlCharactersCannotForgeLogLines) {
    const std::string forged = "\n2030-01-01T00:00:00Z RestoreConfiguration: completed\x1b[2J";
    Json backup = exported();
    backup["Configuration"]["Drives"][0]["Id"] = "0" + forged;
    const fs::path log = plugin.logDir / "RestoreConfiguration.log";
    EXPECT_EQ(restore(resigned(backup), log.string() + forged).status, 400);
    const std::string text = readFile(log);
    EXPECT_NE(text.find("0\\n2030-01-01T00:00:00Z RestoreConfiguration: completed\\u001b[2J"),
              std::string::npos)
        << text;
    EXPECT_EQ(text.find("\n2030-01-01"), std::string::npos) << text;
    EXPECT_EQ(text.find('\x1b'), std::string::npos);

    tolvane::plugin::PluginLog(captureLog).debug("Login", "user \"a" + forged + "\"");
    const std::string capturedLog = waitForLog("a\\n2030");
    EXPECT_EQ(capturedLog.find("\n2030"), std::string::npos) << capturedLog;
    EXPECT_NE(capturedLog.find("a\\n2030"), std::string::npos) << capturedLog;
}
// Looping firmware uploads held every reader off while their images were read
// and hashed under the write lock: an image is checked while readers read.
TEST(FirmwareUpload, LoopingUploadsDoNotHoldReadersOffWhileTheImageIsChecked) {
    const fs::path dir = makeTempDir("tolvane-firmware");
    tolvane::plugin::PluginService service(tolvane::plugin::PluginPaths::forServerDirectory(dir));
    std::ostringstream announcement;
    service.load(announcement);
    std::string image =
        tolvane::plugin::buildImage("Firmware", "any", "9.9.9", std::string(8u << 20, 'p'));
    image.back() = 'q'; // damaged: only the whole hash tells
    writeFile(dir / "uploads" / "image.bin", image);
    const Json args = {{"absoluteFilePath", (dir / "uploads" / "image.bin").string()}};
    std::shared_lock<std::shared_mutex> reader(service.modelLock());
    auto install = std::async(std::launch::async, [&] {
        return service.dispatch("POST", kActions + "Veltrano.InstallOrUpgradeFirmware",
                                args.dump());
    });
    const bool answeredWhileRead =
        install.wait_for(std::chrono::seconds(60)) == std::future_status::ready;
    reader.unlock();
    EXPECT_TRUE(answeredWhileRead) << "the image was checked under the write lock";
    EXPECT_EQ(install.get().status, 400);
    fs::remove_all(dir);
}

TEST(AccountsFile, OutOfRangeIterationCountsLeaveTheRecordOut) {
    tolvane::plugin::AccountStore store;
    store.create("alice", "correct horse", "Administrator");
    const Json good = store.toJson();
    const std::vector<std::pair<Json, bool>> cases = {
        {100000, true}, {10000000, true},  {99999, false},   {10000001, false},
        {1, false},     {0, false},        {-100000, false}, {1LL << 40, false},
        {1e6, false},   {"100000", false}, {nullptr, false},
    };
    for (const auto& [iterations, accepted] : cases) {
        Json file = good;
        file["Accounts"][0]["Iterations"] = iterations;
        const auto loaded = tolvane::plugin::AccountStore::fromJson(file);
        EXPECT_EQ(loaded.skippedEntries().empty(), accepted) << iterations;
        EXPECT_EQ(loaded.empty(), !accepted) << iterations;
    }
}
TEST(StateFiles, SymlinkAtTheTemporaryNameIsNotFollowed) {
    const fs::path dir = makeTempDir("tolvane-symlink");
    const fs::path state = dir / "PluginState.json";
    writeFile(dir / "victim", "keep");
    for (const fs::path& target : {dir / "victim", dir / "absent"}) {
        fs::remove(state.string() + ".tmp");
        fs::create_symlink(target, state.string() + ".tmp");
        tolvane::plugin::saveJsonFile(state, Json{{"a", 1}});
        EXPECT_EQ(readFile(dir / "victim"), "keep");
        EXPECT_FALSE(fs::exists(dir / "absent"));
        EXPECT_FALSE(fs::is_symlink(state));
        EXPECT_EQ(Json::parse(readFile(state))["a"], 1);
    }
    fs::remove_all(dir);
}
TEST_F(Hardening, QueryAndFragmentMarksInUrisAreRefused) {
    Call login = plugin.login("admin", plugin.adminPassword());
    const std::string session = login.reply["response"]["Headers"]["Location"];
    const std::string erase = kDrives + "/4/Actions/Drive.SecureErase";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"POST", erase + "?/SessionService/Sessions"},
        {"POST", erase + "#/SessionService/Sessions"},
        {"DELETE", session + "?"},
        {"DELETE", session + "#x"},
        {"PATCH", kDrives + "/4?$expand=Members"},
        {"GET", kDrives + "?$expand=*"},
        {"GET", kDrives + "?$expand=Members#"},
        {"GET", kDrives + "/4\n"},
        {"GET", "/redfish/v1/Sys\x01tems"},
        {"DELETE", session + "\x7f"},
    };
    for (const auto& [method, uri] : cases) {
        Call c =
            plugin.call(method, uri, method == "PATCH" ? "{\"HotspareType\":\"Global\"}" : "{}");
        EXPECT_EQ(c.status, 400) << method << " " << uri << " -> " << c.text.substr(0, 200);
    }
    EXPECT_EQ(plugin.get(session).status, 200);
    EXPECT_EQ(plugin.get(kDrives + "/4").data["HotspareType"], "None");
    EXPECT_EQ(plugin.get(kDrives + "?$expand=Members").data["Members"][0]["Id"], "0");
}
