// Checks of volume and drive requests against the controller: which
// properties a client may send, which values they take, and whether a volume
// can be built from the drives named. Every refusal is a RedfishError; a
// refused request leaves the model unchanged.
#ifndef TOLVANE_PLUGIN_STORAGEVALIDATION_H
#define TOLVANE_PLUGIN_STORAGEVALIDATION_H

#include <optional>
#include <string>
#include <vector>

#include "json.h"
#include "storagemodel.h"

namespace tolvane::plugin {

constexpr size_t kMaxNameLength = 64;
constexpr uint64_t kMinVolumeBytes = 1048576; // 1 MiB

struct VolumeSpec {
    std::string name;
    std::string displayName;
    std::string raidType;
    std::optional<uint64_t> capacityBytes;
    uint64_t stripSizeBytes = 65536;
    std::string readCachePolicy = "ReadAhead";
    std::string writeCachePolicy = "WriteThrough";
    bool encrypted = false;
    std::string volumeType; // the deprecated VolumeType, "" when not given
    std::vector<std::string> driveIds;
};

// A volume as a configuration backup holds it: the Id and UUID the service
// gave it and what a client could have asked for.
struct SavedVolume {
    std::string id;
    std::string uuid; // "" when the backup has none
    VolumeSpec spec;
};

// One volume of a backup, checked member by member by the same rules as a
// POST to the volume collection (names, enumerations, strip size, integer
// capacity, a drive list without repeats), with an Id of the form the service
// gives and a UUID. Throws RedfishError (400).
SavedVolume parseSavedVolume(const Json& saved);

// The body of a POST to a volume collection. `driveUriPrefix` is the URI of
// the controller's drive collection followed by "/"; drive links must name
// one of its members.
VolumeSpec parseVolumeCreate(const Json& body, const std::string& driveUriPrefix);

// Whether `spec` can be built on `c` now: drives known, healthy, not spares
// and of one media type, a drive count the RAID level allows, a free name,
// encryption only where the controller has it, and a capacity within what
// the drives give and what the volumes on them leave free (without one, all
// that is free). Returns the volume's capacity.
uint64_t checkVolumePlausible(const Controller& c, const VolumeSpec& spec,
                              const std::string& driveUriPrefix);

// Warnings that go with building `spec`: a drive that predicts its failure.
std::vector<Json> volumeWarnings(const Controller& c, const VolumeSpec& spec,
                                 const std::string& driveUriPrefix);

// Checks `spec` and adds the volume with the next free Id.
Volume& createVolume(Controller& c, const VolumeSpec& spec, const std::string& driveUriPrefix,
                     const std::string& uuid);

// PATCH of a volume: Name, DisplayName, ReadCachePolicy, WriteCachePolicy.
void patchVolume(Controller& c, Volume& v, const Json& body);

// PATCH of a drive: HotspareType ("None", "Global"), LocationIndicatorActive
// and IndicatorLED.
void patchDrive(Controller& c, Drive& d, const Json& body, const std::string& driveUri);

// A lamp's IndicatorLED after a request that sets IndicatorLED and/or
// LocationIndicatorActive (null when absent): both must agree; turned on
// through LocationIndicatorActive alone an unlit lamp is "Lit".
std::string takeIndicator(const std::string& current, const Json* indicatorLed,
                          const Json* locationIndicatorActive);

// Whether a drive may be erased: not in a volume, not a spare, not failed.
void checkDriveErasable(const Controller& c, const Drive& d, const std::string& driveUri);

// Volume.Initialize's "InitializeType": "Fast" (default) or "Slow".
std::string parseInitializeType(const Json& body);

} // namespace tolvane::plugin

#endif
