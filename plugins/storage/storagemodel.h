// The simulated RAID controller: its drives, its volumes and the rules by
// which volumes are built from drives. Plain data plus the arithmetic; the
// checks of request bodies live in storagevalidation.h.
#ifndef TOLVANE_PLUGIN_STORAGEMODEL_H
#define TOLVANE_PLUGIN_STORAGEMODEL_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "json.h"

namespace tolvane::plugin {

struct Drive {
    std::string id;
    std::string model;
    std::string serialNumber;
    std::string revision;
    std::string mediaType; // "SSD" or "HDD"
    std::string protocol;  // "SAS" or "SATA"
    uint64_t capacityBytes = 0;
    uint32_t blockSizeBytes = 512;
    uint32_t rotationSpeedRPM = 0; // 0 for SSDs
    std::string state = "Enabled"; // Status.State
    std::string health = "OK";     // Status.Health: "OK", "Warning", "Critical"
    bool failurePredicted = false;
    std::string hotspareType = "None"; // "None" or "Global"
    std::string indicatorLed = "Off";  // IndicatorLED; LocationIndicatorActive unless "Off"

    // A failed drive can take no part in a volume or as a spare.
    bool failed() const { return health == "Critical" || state != "Enabled"; }
};

struct Volume {
    std::string id;
    std::string name;
    std::string displayName;
    std::string raidType;
    uint64_t capacityBytes = 0;
    uint64_t stripSizeBytes = 65536;
    std::string readCachePolicy = "ReadAhead";
    std::string writeCachePolicy = "WriteThrough";
    bool encrypted = false;
    std::string uuid;
    std::vector<std::string> driveIds;
};

struct SpdmCertificate {
    std::string subject;
    std::string issuer;
    std::string notAfter;
    std::string fingerprintSha256;
};

struct Controller {
    std::string id = "1";
    std::string name = "Veltrano RAID Controller";
    std::string manufacturer = "Quorvex";
    std::string model = "Veltrano RC-8i";
    std::string serialNumber = "QVX8I0001";
    std::string partNumber = "RC-8I-001";
    std::string firmwareVersion = "1.0.0";
    std::string microcodeVersion = "1.0.0";
    std::string state = "Enabled";
    std::string health = "OK";
    std::vector<Drive> drives;
    std::vector<Volume> volumes;
    uint64_t nextVolumeId = 1;
    bool encryptionCapable = false; // whether it can build encrypted volumes
    std::optional<SpdmCertificate> spdmCertificate;

    Drive* drive(const std::string& id);
    const Drive* drive(const std::string& id) const;
    Volume* volume(const std::string& id);
    // The volumes that take space on a drive, in the order of the volumes.
    std::vector<const Volume*> volumesOfDrive(const std::string& driveId) const;
    bool inVolume(const std::string& driveId) const { return !volumesOfDrive(driveId).empty(); }
    // What the volumes leave free of a drive (0 when they take more).
    uint64_t freeBytes(const Drive& d) const;
};

// The simulated host around the controller: its power, the chassis lamp.
struct HostState {
    std::string powerState = "On"; // "On" or "Off"
    std::string chassisIndicatorLed = "Off";
    int64_t managerResetAt = 0; // not kept: a start of the service is a reset
};

// The lamp's deprecated IndicatorLED values; any but "Off" is an active
// LocationIndicatorActive.
extern const std::vector<std::string> kIndicatorLedValues;

// RAID levels the controller builds, with the drive counts they need.
struct RaidRule {
    const char* type;
    size_t minDrives;
    size_t maxDrives;
    bool evenCount;
};
const std::vector<RaidRule>& raidRules();
const RaidRule* findRaidRule(const std::string& type);

// How many drives' worth of data a volume of `type` over `drives` drives
// holds; 0 when the combination is not buildable.
uint64_t dataDrives(const std::string& type, size_t drives);
// Usable bytes of a volume of `type` over `drives` drives whose smallest
// holds `smallest` bytes; 0 when the combination is not buildable.
uint64_t usableCapacity(const std::string& type, size_t drives, uint64_t smallest);
// Bytes a volume takes of each of its drives. Volumes share drives by this
// measure: a drive holds volumes while their shares fit its capacity.
uint64_t bytesPerDrive(const Volume& v);
// Throws std::runtime_error when a volume of `c` cannot be built as it
// stands (RAID level, drive count, drives named twice or unknown) or its
// drives hold more than they can: the rule a new volume is checked by.
void checkVolumesFit(const Controller& c);

extern const std::vector<uint64_t> kStripSizes;
extern const std::vector<std::string> kReadCachePolicies;
extern const std::vector<std::string> kWriteCachePolicies;

class StorageModel {
  public:
    // One controller with eight drives, two of them in poor health.
    static StorageModel makeDefault();

    std::vector<Controller>& controllers() { return controllers_; }
    const std::vector<Controller>& controllers() const { return controllers_; }
    Controller* controller(const std::string& id);
    HostState& host() { return host_; }
    const HostState& host() const { return host_; }

    Json toJson() const;
    // Throws std::runtime_error when `state` does not describe a model.
    static StorageModel fromJson(const Json& state);

  private:
    std::vector<Controller> controllers_;
    HostState host_;
};

Json volumeToJson(const Volume& v);
Volume volumeFromJson(const Json& j);

} // namespace tolvane::plugin

#endif
