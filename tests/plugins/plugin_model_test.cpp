// The storage model, its validation rules, accounts and the file formats,
// linked directly without the shared object.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "accounts.h"
#include "backupformat.h"
#include "crypto.h"
#include "imageformat.h"
#include "imagefetch.h"
#include "messages.h"
#include "paths.h"
#include "persistence.h"
#include "router.h"
#include "storagevalidation.h"
#include "tasks.h"

#include "pluginharness.h"

using namespace tolvane::plugin;
namespace fs = std::filesystem;

namespace {
const std::string kPrefix = "/redfish/v1/Chassis/1/Drives/";

std::string errorId(const std::function<void()>& f) {
    try {
        f();
    } catch (const RedfishError& e) {
        return e.messages().front()["MessageId"].get<std::string>().substr(
            std::string("Base.1.22.1.").size());
    }
    return "none";
}
} // namespace

TEST(StorageRules, UsableCapacityPerRaidLevel) {
    const uint64_t d = 1000;
    EXPECT_EQ(usableCapacity("RAID0", 1, d), 1000u);
    EXPECT_EQ(usableCapacity("RAID0", 3, d), 3000u);
    EXPECT_EQ(usableCapacity("RAID1", 2, d), 1000u);
    EXPECT_EQ(usableCapacity("RAID1", 3, d), 0u);
    EXPECT_EQ(usableCapacity("RAID5", 2, d), 0u);
    EXPECT_EQ(usableCapacity("RAID5", 4, d), 3000u);
    EXPECT_EQ(usableCapacity("RAID6", 3, d), 0u);
    EXPECT_EQ(usableCapacity("RAID6", 5, d), 3000u);
    EXPECT_EQ(usableCapacity("RAID10", 4, d), 2000u);
    EXPECT_EQ(usableCapacity("RAID10", 5, d), 0u);
    EXPECT_EQ(usableCapacity("RAID50", 6, d), 0u);
}

TEST(StorageRules, MixedSizesUseTheSmallestDriveAndCapacityRoundsToBlocks) {
    StorageModel model = StorageModel::makeDefault();
    Controller& c = model.controllers().front();
    c.drives[1].capacityBytes = 500000000000ULL;
    VolumeSpec spec;
    spec.raidType = "RAID0";
    spec.driveIds = {"0", "1"};
    EXPECT_EQ(checkVolumePlausible(c, spec, kPrefix), 1000000000000ULL);
    spec.capacityBytes = 10000001ULL;
    EXPECT_EQ(checkVolumePlausible(c, spec, kPrefix), 10000001ULL - 10000001ULL % 512);
    spec.capacityBytes = 1000;
    EXPECT_EQ(errorId([&] { checkVolumePlausible(c, spec, kPrefix); }), "PropertyValueOutOfRange");
}

TEST(StorageRules, CreatedVolumesGetIncreasingIdsAndDefaultNames) {
    StorageModel model = StorageModel::makeDefault();
    Controller& c = model.controllers().front();
    VolumeSpec spec;
    spec.raidType = "RAID0";
    spec.driveIds = {"0"};
    EXPECT_EQ(createVolume(c, spec, kPrefix, "u1").id, "1");
    spec.driveIds = {"1"};
    Volume& v = createVolume(c, spec, kPrefix, "u2");
    EXPECT_EQ(v.id, "2");
    EXPECT_EQ(v.name, "Volume 2");
    // Unnamed volumes never collide with each other.
    spec.driveIds = {"2"};
    EXPECT_EQ(createVolume(c, spec, kPrefix, "u3").name, "Volume 3");
}

TEST(StorageRules, ParseRejectsBadLinks) {
    auto parse = [](const Json& body) {
        return errorId([&] { parseVolumeCreate(body, kPrefix); });
    };
    EXPECT_EQ(parse({{"RAIDType", "RAID0"}, {"Links", "x"}}), "PropertyValueTypeError");
    EXPECT_EQ(parse({{"RAIDType", "RAID0"}, {"Links", Json::object()}}), "PropertyMissing");
    EXPECT_EQ(parse({{"RAIDType", "RAID0"}, {"Links", {{"Drives", Json::array()}}}}),
              "PropertyValueFormatError");
    EXPECT_EQ(
        parse({{"RAIDType", "RAID0"}, {"Links", {{"Drives", {{{"@odata.id", kPrefix + "1/x"}}}}}}}),
        "PropertyValueFormatError");
    EXPECT_EQ(parse({{"RAIDType", "RAID0"}, {"Links", {{"Enclosures", Json::array()}}}}),
              "PropertyUnknown");
    VolumeSpec ok = parseVolumeCreate({{"RAIDType", "RAID0"},
                                       {"Links", {{"Drives", {{{"@odata.id", kPrefix + "3/"}}}}}},
                                       {"@odata.type", "#Volume.v1_10_2.Volume"}},
                                      kPrefix);
    EXPECT_EQ(ok.driveIds, std::vector<std::string>{"3"});
}

TEST(StorageRules, ModelRoundTripsThroughJson) {
    StorageModel model = StorageModel::makeDefault();
    Controller& c = model.controllers().front();
    VolumeSpec spec;
    spec.raidType = "RAID1";
    spec.driveIds = {"0", "1"};
    createVolume(c, spec, kPrefix, "uuid");
    c.drives[3].hotspareType = "Global";
    c.spdmCertificate = SpdmCertificate{"CN=a", "CN=b", "never", "ff"};
    c.drives[0].capacityBytes += 1 << 20; // a volume shares the mirror's drive 0 by size
    spec.raidType = "RAID0";
    spec.driveIds = {"0"};
    EXPECT_EQ(createVolume(c, spec, kPrefix, "uuid2").capacityBytes, 1u << 20);
    StorageModel back = StorageModel::fromJson(model.toJson());
    EXPECT_EQ(back.toJson(), model.toJson());
    Json over = model.toJson(); // the mirror takes more than drive 1 has
    over["Controllers"][0]["Volumes"][0]["CapacityBytes"] = 960197124096ULL + 512;
    EXPECT_THROW(StorageModel::fromJson(over), std::runtime_error);
    Json broken = model.toJson();
    broken["Controllers"][0]["Volumes"][0]["Drives"][0] = "42";
    EXPECT_THROW(StorageModel::fromJson(broken), std::runtime_error);
    EXPECT_THROW(StorageModel::fromJson(Json::object()), std::runtime_error);
}

TEST(FileFormats, ImagesAreCheckedPieceByPiece) {
    const std::string good = buildImage("Firmware", "M", "1.2.3", "abc");
    ImageInfo info = parseImage(good, "Firmware");
    EXPECT_EQ(info.version, "1.2.3");
    EXPECT_EQ(info.payloadSize, 3u);
    EXPECT_THROW(parseImage(good + "x", "Firmware"), FileFormatError);
    EXPECT_THROW(parseImage(good.substr(0, good.size() - 1), "Firmware"), FileFormatError);
    EXPECT_THROW(parseImage("VELTRANO-IMAGE 1\n{\"Component\":\"Firmware\"}\nabc", "Firmware"),
                 FileFormatError);
    EXPECT_THROW(parseImage("VELTRANO-IMAGE 1\nnot json\nabc", "Firmware"), FileFormatError);
    EXPECT_THROW(parseImage(buildImage("Firmware", "M", "1.2.3", ""), "Firmware"), FileFormatError);
    EXPECT_TRUE(isVersionText("10.0.12"));
    EXPECT_FALSE(isVersionText("1.0"));
    EXPECT_FALSE(isVersionText("1..0"));
    EXPECT_FALSE(isVersionText("1.0.0-beta"));
    EXPECT_EQ(compareVersions("1.10.0", "1.9.9"), 1);
    EXPECT_EQ(compareVersions("1.0.0", "1.0.0"), 0);
    EXPECT_EQ(compareVersions("0.9.0", "1.0.0"), -1);
}

TEST(FileFormats, BackupMustFitTheDrivesPresent) {
    StorageModel model = StorageModel::makeDefault();
    Controller& c = model.controllers().front();
    VolumeSpec spec;
    spec.raidType = "RAID5";
    spec.driveIds = {"0", "1", "2"};
    spec.capacityBytes = 1000000000ULL;
    createVolume(c, spec, kPrefix, crypto::newUuid()); // a backup holds real UUIDs
    spec.capacityBytes.reset();                        // the rest of the same drives
    createVolume(c, spec, kPrefix, crypto::newUuid());
    const std::string backup = buildBackup(c, "now").dump();
    RestoreResult r = restoreBackup(c, backup, kPrefix);
    EXPECT_EQ(r.volumes, 2u);
    Controller other = c;
    other.drives[1].serialNumber = "SWAPPED";
    EXPECT_THROW(restoreBackup(other, backup, kPrefix), FileFormatError);
    // A drive that failed since the backup makes the volume unbuildable.
    Controller failed = c;
    failed.drives[2].health = "Critical";
    EXPECT_EQ(errorId([&] { restoreBackup(failed, backup, kPrefix); }),
              "PropertyValueResourceConflict");
}

TEST(Accounts, PasswordsAreKeptAsSaltedHashesOnly) {
    // Known answers of PBKDF2-HMAC-SHA-256 (RFC 7914, section 11).
    EXPECT_EQ(crypto::pbkdf2Sha256Hex("passwd", "salt", 1),
              "55ac046e56e3089fec1691c22544b605f94185216dde0465e68b9d57c20dacbc");
    EXPECT_EQ(crypto::pbkdf2Sha256Hex("Password", "NaCl", 80000),
              "4ddcd8f60b98be21830cee5ef22701f9641a4418d04c0414aeff08876b34ab56");
    AccountStore store;
    const Account a = store.create("alice", "correct horse", "Operator");
    const Account b = store.create("bob", "correct horse", "Operator");
    // The same password gives each account its own salt, so its own hash.
    EXPECT_EQ(a.salt.size(), 32u);
    EXPECT_NE(a.salt, b.salt);
    EXPECT_NE(a.hash, b.hash);
    EXPECT_EQ(store.toJson().dump().find("correct horse"), std::string::npos);
    EXPECT_NE(store.authenticate("alice", "correct horse", 100), nullptr);
    EXPECT_EQ(store.authenticate("alice", "wrong horse", 100), nullptr);
    AccountStore back = AccountStore::fromJson(store.toJson());
    EXPECT_NE(back.authenticate("bob", "correct horse", 100), nullptr);
    // A record hashed elsewhere by the file's rule (the salt's hex text is
    // the PBKDF2 salt) still logs in.
    const Json record = Json::parse(R"({"NextId": 2, "Accounts": [{"Id": "1",
        "UserName": "carol", "RoleId": "Operator", "Enabled": true, "Iterations": 100000,
        "Salt": "00112233445566778899aabbccddeeff",
        "Hash": "5788797bd00217541915bc05dec5f00379ee7a1156b24ba01dc36886c9fc9ea7"}]})");
    AccountStore stored = AccountStore::fromJson(record);
    EXPECT_NE(stored.authenticate("carol", "correct horse", 100), nullptr);
    EXPECT_EQ(stored.authenticate("carol", "correct horsE", 100), nullptr);
}

TEST(Accounts, LockoutEndsAfterItsDuration) {
    AccountStore store;
    store.create("alice", "correct horse", "Administrator");
    for (int i = 0; i < AccountStore::kLockoutThreshold; ++i)
        EXPECT_EQ(store.authenticate("alice", "nope-nope", 1000), nullptr);
    EXPECT_EQ(store.authenticate("alice", "correct horse", 1000), nullptr);
    EXPECT_EQ(
        store.authenticate("alice", "correct horse", 1000 + AccountStore::kLockoutSeconds - 1),
        nullptr);
    EXPECT_NE(store.authenticate("alice", "correct horse", 1000 + AccountStore::kLockoutSeconds),
              nullptr);
}

TEST(Accounts, SessionsExpireAndTheTableIsBounded) {
    AccountStore store;
    const Account a = store.create("alice", "correct horse", "Administrator");
    SessionStore sessions;
    const Session first = sessions.create(a, "h", 0);
    sessions.prune(SessionStore::kLifetimeSeconds);
    EXPECT_NE(sessions.find(first.id), nullptr);
    sessions.prune(SessionStore::kLifetimeSeconds + 1);
    EXPECT_EQ(sessions.find(first.id), nullptr);
    for (size_t i = 0; i < SessionStore::kMaxSessions + 5; ++i)
        sessions.create(a, "h", 10);
    EXPECT_EQ(sessions.sessions().size(), SessionStore::kMaxSessions);
}

TEST(Persistence, AtomicWriteSetsModeAndLeavesNoTemporaryFile) {
    fs::path dir = plugintest::makeTempDir("tolvane-persist");
    fs::path file = dir / "state.json";
    saveJsonFile(file, Json{{"a", 1}});
    saveJsonFile(file, Json{{"a", 2}});
    struct stat st {};
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_FALSE(fs::exists(dir / "state.json.tmp"));
    LoadedJson loaded = loadJsonFile(file);
    ASSERT_EQ(loaded.status, LoadedJson::Status::Loaded);
    EXPECT_EQ(loaded.value["a"], 2);
    EXPECT_EQ(loadJsonFile(dir / "missing.json").status, LoadedJson::Status::Missing);
    plugintest::writeFile(dir / "bad.json", "{");
    EXPECT_EQ(loadJsonFile(dir / "bad.json").status, LoadedJson::Status::Unreadable);
    fs::path aside = moveAside(dir / "bad.json");
    EXPECT_TRUE(fs::exists(aside));
    EXPECT_FALSE(fs::exists(dir / "bad.json"));
    EXPECT_THROW(writeFileAtomically(dir / "no" / "such" / "dir", "x"), std::runtime_error);
    fs::remove_all(dir);
}

TEST(Router, NormalisesUrisAndTellsMissingFromNotAllowed) {
    auto n = Router::normalize("/redfish/v1//Systems/1/?$expand=Members");
    ASSERT_TRUE(n);
    EXPECT_EQ(n->first, "/redfish/v1/Systems/1");
    EXPECT_TRUE(n->second);
    EXPECT_FALSE(Router::normalize("/redfish/v10/Systems"));
    EXPECT_FALSE(Router::normalize("/elsewhere"));
    Router r;
    r.add("GET", "Things/{id}", [](const Request& q) {
        return Reply::ok(Json{{"Id", q.param("id")}});
    });
    r.add("GET", "Boom", [](const Request&) -> Reply { throw std::logic_error("bug"); });
    EXPECT_EQ(r.dispatch("GET", "/redfish/v1/Things/7", "{}").data["Id"], "7");
    EXPECT_EQ(r.dispatch("DELETE", "/redfish/v1/Things/7", "{}").status, 405);
    EXPECT_EQ(r.dispatch("GET", "/redfish/v1/Things", "{}").status, 404);
    Reply boom = r.dispatch("GET", "/redfish/v1/Boom", "{}");
    EXPECT_EQ(boom.status, 500);
    EXPECT_EQ(boom.data["error"]["code"], "Base.1.22.1.InternalError");
}

TEST(Router, EnvelopesHaveTheShapesTheServerReads) {
    EXPECT_EQ(Reply::ok(Json{{"a", 1}}).envelope(), "{\"HttpStatus\":200,\"Data\":{\"a\":1}}");
    EXPECT_EQ(Reply::file("/x/y", "application/octet-stream").envelope(),
              "{\"HttpStatus\":200,\"Data\":{\"contentType\":\"application/"
              "octet-stream\",\"fileName\":\"/x/y\"}}");
    Reply login;
    login.kind = Reply::Kind::Login;
    login.status = 201;
    login.data = Json{{"Id", "s"}};
    login.sessionInfo = Json{{"Role", "r"}, {"OSPrivilegeLevel", "p"}};
    login.token = "t";
    login.location = "l";
    EXPECT_EQ(
        login.envelope(),
        "{\"response\":{\"HttpStatus\":201,\"Data\":{\"HttpStatus\":201,\"Data\":{\"Id\":\"s\"},"
        "\"Role\":\"r\","
        "\"OSPrivilegeLevel\":\"p\"},\"Headers\":{\"X-Auth-Token\":\"t\",\"Location\":\"l\"}}}");
}

TEST(ImageFetch, LoopbackAndLinkLocalSourcesOnlyWhenConfigured) {
    const struct {
        const char* host;
        bool localAllowed;
        bool fetched;
    } rows[] = {
        {"127.0.0.1", false, false},     {"127.0.0.1", true, true},
        {"169.254.7.7", false, false},   {"[::1]", false, false},
        {"[fe80::1]", false, false},     {"[::ffff:127.0.0.1]", false, false},
        {"0.0.0.0", true, false},        {"[ff02::1]", true, false},
        {"10.1.2.3", false, true},       {"[2001:db8::1]", false, true},
        {"images.example", false, true},
    };
    for (const auto& row : rows)
        EXPECT_EQ(fetchHostAllowed(row.host, row.localAllowed), row.fetched) << row.host;
}

// A package keeps the configuration in /etc and links it into the server
// directory; the plug-in reads the linked file, as the server does.
TEST(PluginPaths, LinkedConfigurationIsRead) {
    const fs::path dir = plugintest::makeTempDir("tolvane-paths");
    plugintest::writeFile(dir / "etc.json", R"({"TaskRetentionSeconds": 7})");
    fs::create_symlink(dir / "etc.json", dir / "ServerConfiguration.json");
    const PluginPaths paths = PluginPaths::forServerDirectory(dir);
    EXPECT_EQ(TaskSettings::read(paths.configFile).retentionSeconds, 7);
    fs::remove_all(dir);
}
