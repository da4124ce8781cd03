// kill -9 while the bundled plug-in writes its state: one client changes the
// storage without pause (renames a volume, creates and deletes another) and
// the server is killed at a random moment. After each restart the state file
// is whole (nothing was moved aside as corrupt), the service answers, and the
// storage is the state after the last acknowledged change or after the one in
// flight: old or new, never anything else.
#include <filesystem>
#include <random>

#include <gtest/gtest.h>

#include "reliability.h"

namespace fs = std::filesystem;
using Json = nlohmann::json;

namespace {

constexpr int kKills = 6;
const std::string kVolumes = "/redfish/v1/Systems/1/Storage/1/Volumes";
using rel::kDrives;

// The part of the storage the writer changes.
struct StorageState {
    std::string name;       // name of the volume that is renamed
    bool temporary = false; // the volume that comes and goes exists
    bool operator==(const StorageState& o) const {
        return name == o.name && temporary == o.temporary;
    }
};

std::string describe(const StorageState& s) {
    return "{name " + s.name + ", temporary " + (s.temporary ? "present" : "absent") + "}";
}

Json volumeSpec(const std::string& name, int firstDrive) {
    return {{"Name", name},
            {"RAIDType", "RAID1"},
            {"Links",
             {{"Drives",
               Json::array({Json{{"@odata.id", kDrives + std::to_string(firstDrive)}},
                            Json{{"@odata.id", kDrives + std::to_string(firstDrive + 1)}}})}}}};
}

std::vector<std::string> corruptFiles(const std::string& dir) {
    std::vector<std::string> names;
    for (auto& e : fs::directory_iterator(dir)) {
        const std::string name = e.path().filename().string();
        if (name.find(".corrupt-") != std::string::npos)
            names.push_back(name);
    }
    return names;
}

} // namespace

TEST(KillDuringWrites, StateIsOldOrNewNeverCorrupt) {
    ts::BundledServer s;
    ASSERT_EQ(s.start(), "");
    const std::string password = s.password();
    std::string token = s.login("admin", password);
    ASSERT_FALSE(token.empty());
    ts::Response created = s.send("POST", kVolumes, token, volumeSpec("name-0", 0).dump());
    ASSERT_EQ(created.status, 201) << created.raw;
    const std::string volumeUri = Json::parse(created.body)["@odata.id"];
    std::string temporaryUri;

    StorageState acknowledged{"name-0", false};
    int counter = 0;
    std::mt19937 rng(std::random_device{}());
    for (int kill = 0; kill < kKills; ++kill) {
        std::atomic<bool> stop{false};
        std::atomic<int> writes{0};
        StorageState inFlight = acknowledged;
        std::string writerProblem;
        std::thread writer([&] {
            while (!stop.load()) {
                // Every third change creates or deletes the second volume.
                StorageState next = acknowledged;
                ts::Response r;
                ++counter;
                if (counter % 3 == 0) {
                    next.temporary = !acknowledged.temporary;
                    inFlight = next;
                    r = next.temporary
                            ? s.send("POST", kVolumes, token, volumeSpec("temporary", 2).dump())
                            : s.send("DELETE", temporaryUri, token);
                    if (r.status == 201) {
                        const Json made = Json::parse(r.body, nullptr, false);
                        // An answer cut short by the kill: the volume may or
                        // may not exist, which the check after the restart
                        // allows for.
                        if (!made.is_object() || !made.contains("@odata.id"))
                            return;
                        temporaryUri = made["@odata.id"];
                    }
                } else {
                    next.name = "name-" + std::to_string(counter);
                    inFlight = next;
                    r = s.send("PATCH", volumeUri, token, Json{{"Name", next.name}}.dump());
                }
                if (r.status == 200 || r.status == 201) {
                    acknowledged = next;
                    ++writes;
                } else {
                    // Only a killed server may refuse; anything else is a fault.
                    if (r.complete && writerProblem.empty())
                        writerProblem = "change refused: " + r.raw;
                    return;
                }
            }
        });
        // Let a few changes through, then kill at a random moment.
        ts::waitUntil([&] { return writes.load() >= 3; }, 30000);
        // The random moment is the point of the test, not a wait.
        std::this_thread::sleep_for(
            std::chrono::milliseconds(std::uniform_int_distribution<int>(0, 300)(rng)));
        ::kill(s.server->pid, SIGKILL);
        EXPECT_EQ(s.server->waitExit(10000), 128 + SIGKILL);
        stop = true;
        writer.join();
        ASSERT_EQ(writerProblem, "");
        ASSERT_GE(writes.load(), 3) << "the writer made no progress";

        // Restart on the same files.
        ASSERT_EQ(s.start(), "") << "after kill " << kill;
        EXPECT_EQ(corruptFiles(s.tree.serverDir), std::vector<std::string>())
            << "a state file was moved aside after kill " << kill;
        for (const char* file : {"PluginState.json", "Accounts.json"}) {
            Json parsed = Json::parse(ts::readFile(s.tree.serverDir + file), nullptr, false);
            EXPECT_TRUE(parsed.is_object()) << file << " after kill " << kill;
        }
        token = s.login("admin", password);
        ASSERT_FALSE(token.empty()) << "the accounts did not survive kill " << kill;

        ts::Response listing = s.send("GET", kVolumes + "?$expand=Members", token);
        ASSERT_EQ(listing.status, 200) << listing.raw;
        StorageState found;
        int renamed = 0;
        const Json volumes = Json::parse(listing.body);
        for (auto& member : volumes["Members"]) {
            const std::string id = member.value("@odata.id", "");
            if (id == volumeUri) {
                found.name = member.value("Name", "");
                ++renamed;
            } else if (member.value("Name", "") == "temporary") {
                found.temporary = true;
                temporaryUri = id;
            }
        }
        EXPECT_EQ(renamed, 1) << listing.body;
        EXPECT_TRUE(found == acknowledged || found == inFlight)
            << "after kill " << kill << " the storage is " << describe(found)
            << ", acknowledged was " << describe(acknowledged) << ", in flight "
            << describe(inFlight);
        acknowledged = found;
    }
}
