#include "storagevalidation.h"

#include <algorithm>
#include <cctype>
#include <set>

#include "messages.h"

namespace tolvane::plugin {

namespace {

bool isAnnotation(const std::string& key) {
    return key.find('@') != std::string::npos;
}

template <typename List> bool contains(const List& list, const std::string& value) {
    return std::find(list.begin(), list.end(), value) != list.end();
}

std::string takeString(const Json& value, const std::string& property) {
    if (!value.is_string())
        throw errors::propertyValueTypeError(argumentText(value), property);
    return value.get<std::string>();
}

std::string takeName(const Json& value, const std::string& property, bool allowEmpty) {
    std::string text = takeString(value, property);
    if (text.size() > kMaxNameLength)
        throw errors::stringValueTooLong(text, property, static_cast<int>(kMaxNameLength));
    if (!allowEmpty && text.empty())
        throw errors::propertyValueFormatError(text, property);
    for (unsigned char ch : text) {
        if (ch < 0x20 || ch == 0x7f)
            throw errors::propertyValueFormatError(text, property);
    }
    return text;
}

std::string takeEnum(const Json& value, const std::string& property,
                     const std::vector<std::string>& allowed) {
    std::string text = takeString(value, property);
    if (!contains(allowed, text))
        throw errors::propertyValueNotInList(text, property);
    return text;
}

uint64_t takeUnsigned(const Json& value, const std::string& property) {
    if (!value.is_number_integer())
        throw errors::propertyValueTypeError(argumentText(value), property);
    if (!value.is_number_unsigned() && value.get<int64_t>() < 0)
        throw errors::propertyValueOutOfRange(argumentText(value), property);
    return value.get<uint64_t>();
}

uint64_t takeStripSize(const Json& value, const std::string& property) {
    const uint64_t strip = takeUnsigned(value, property);
    if (std::find(kStripSizes.begin(), kStripSizes.end(), strip) == kStripSizes.end())
        throw errors::propertyValueNotInList(std::to_string(strip), property);
    return strip;
}

// A volume's drives: at least one, none twice.
void checkDriveList(const std::vector<std::string>& ids, const std::string& property) {
    if (ids.empty())
        throw errors::propertyValueFormatError("[]", property);
    for (size_t i = 0; i < ids.size(); ++i) {
        if (std::find(ids.begin(), ids.begin() + static_cast<long>(i), ids[i]) !=
            ids.begin() + static_cast<long>(i))
            throw errors::propertyValueConflict(property, property);
    }
}

// Ids the service gives volumes: decimal numbers from 1, no leading zero.
bool isVolumeId(const std::string& id) {
    return !id.empty() && id.size() < 20 && id[0] != '0' &&
           std::all_of(id.begin(), id.end(), [](char ch) { return ch >= '0' && ch <= '9'; });
}

bool isUuid(const std::string& text) {
    if (text.size() != 36)
        return false;
    for (size_t i = 0; i < text.size(); ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash != (text[i] == '-') ||
            (!dash && !std::isxdigit(static_cast<unsigned char>(text[i]))))
            return false;
    }
    return true;
}

bool takeBool(const Json& value, const std::string& property) {
    if (!value.is_boolean())
        throw errors::propertyValueTypeError(argumentText(value), property);
    return value.get<bool>();
}

std::string joined(const std::vector<std::string>& items, const std::string& separator) {
    std::string out;
    for (const auto& item : items)
        out += (out.empty() ? "" : separator) + item;
    return out;
}

// The RAID levels each volume type of the (deprecated) VolumeType stands for.
const std::vector<std::pair<std::string, std::vector<std::string>>> kVolumeTypes = {
    {"NonRedundant", {"RAID0"}},
    {"Mirrored", {"RAID1", "RAID10"}},
    {"SpannedMirrors", {"RAID10"}},
    {"StripedWithParity", {"RAID5", "RAID6"}},
};

std::vector<std::string> volumeTypeNames() {
    std::vector<std::string> names;
    for (const auto& [type, levels] : kVolumeTypes)
        names.push_back(type);
    return names;
}

const std::vector<std::string>& raidLevelsOf(const std::string& volumeType) {
    for (const auto& [type, levels] : kVolumeTypes) {
        if (type == volumeType)
            return levels;
    }
    throw errors::propertyValueNotInList(volumeType, "VolumeType");
}

std::vector<std::string> raidTypeNames() {
    std::vector<std::string> names;
    for (const auto& rule : raidRules())
        names.push_back(rule.type);
    return names;
}

// Read-only members a client may have copied from a GET of the resource.
const std::set<std::string> kVolumeReadOnly = {"Id",
                                               "Status",
                                               "Identifiers",
                                               "Actions",
                                               "BlockSizeBytes",
                                               "Operations",
                                               "OptimumIOSizeBytes",
                                               "Description",
                                               "EncryptionTypes",
                                               "Oem",
                                               "VolumeUsage"};

std::vector<std::string> parseDriveLinks(const Json& links, const std::string& driveUriPrefix) {
    if (!links.is_object())
        throw errors::propertyValueTypeError(argumentText(links), "Links");
    for (auto it = links.begin(); it != links.end(); ++it) {
        if (it.key() != "Drives" && !isAnnotation(it.key()))
            throw errors::propertyUnknown("Links/" + it.key());
    }
    if (!links.contains("Drives"))
        throw errors::propertyMissing("Links/Drives");
    const Json& drives = links["Drives"];
    if (!drives.is_array())
        throw errors::propertyValueTypeError(argumentText(drives), "Links/Drives");
    std::vector<std::string> ids;
    for (const auto& link : drives) {
        if (!link.is_object() || !link.contains("@odata.id") || !link["@odata.id"].is_string())
            throw errors::propertyValueTypeError(argumentText(link), "Links/Drives");
        std::string uri = link["@odata.id"].get<std::string>();
        while (uri.size() > 1 && uri.back() == '/')
            uri.pop_back();
        if (uri.compare(0, driveUriPrefix.size(), driveUriPrefix) != 0 ||
            uri.size() == driveUriPrefix.size() ||
            uri.find('/', driveUriPrefix.size()) != std::string::npos)
            throw errors::propertyValueFormatError(uri, "Links/Drives");
        ids.push_back(uri.substr(driveUriPrefix.size()));
    }
    checkDriveList(ids, "Links/Drives");
    return ids;
}

// The members a client may set when it creates a volume, checked alike in a
// POST and in a restored backup; false for any other member.
bool takeVolumeSetting(VolumeSpec& spec, const std::string& key, const Json& value) {
    if (key == "Name")
        spec.name = takeName(value, key, false);
    else if (key == "DisplayName")
        spec.displayName = takeName(value, key, true);
    else if (key == "RAIDType")
        spec.raidType = takeEnum(value, key, raidTypeNames());
    else if (key == "CapacityBytes")
        spec.capacityBytes = takeUnsigned(value, key);
    else if (key == "StripSizeBytes")
        spec.stripSizeBytes = takeStripSize(value, key);
    else if (key == "ReadCachePolicy")
        spec.readCachePolicy = takeEnum(value, key, kReadCachePolicies);
    else if (key == "WriteCachePolicy")
        spec.writeCachePolicy = takeEnum(value, key, kWriteCachePolicies);
    else if (key == "Encrypted")
        spec.encrypted = takeBool(value, key);
    else if (key == "VolumeType")
        spec.volumeType = takeEnum(value, key, volumeTypeNames());
    else
        return false;
    return true;
}

// RAIDType after VolumeType: the RAID level named, which the volume type must
// allow, or else the first level of the type that takes as many drives.
void settleRaidType(VolumeSpec& spec) {
    if (spec.volumeType.empty())
        return;
    const std::vector<std::string>& levels = raidLevelsOf(spec.volumeType);
    if (spec.raidType.empty()) {
        spec.raidType = levels.front();
        for (const auto& level : levels) {
            if (dataDrives(level, spec.driveIds.size()) > 0) {
                spec.raidType = level;
                break;
            }
        }
    } else if (!contains(levels, spec.raidType)) {
        throw errors::propertyValueConflict("VolumeType", "RAIDType")
            .withDetail("A " + spec.volumeType + " volume is " + joined(levels, " or ") + ".");
    }
}

} // namespace

VolumeSpec parseVolumeCreate(const Json& body, const std::string& driveUriPrefix) {
    VolumeSpec spec;
    bool haveLinks = false;
    for (auto it = body.begin(); it != body.end(); ++it) {
        const std::string& key = it.key();
        const Json& value = it.value();
        if (isAnnotation(key))
            continue;
        if (takeVolumeSetting(spec, key, value)) {
            continue;
        } else if (key == "Links") {
            spec.driveIds = parseDriveLinks(value, driveUriPrefix);
            haveLinks = true;
        } else if (kVolumeReadOnly.count(key)) {
            throw errors::propertyNotWritable(key);
        } else {
            throw errors::propertyUnknown(key);
        }
    }
    if (spec.raidType.empty() && spec.volumeType.empty())
        throw errors::propertyMissing("RAIDType");
    if (!haveLinks)
        throw errors::propertyMissing("Links/Drives");
    settleRaidType(spec);
    return spec;
}

SavedVolume parseSavedVolume(const Json& saved) {
    if (!saved.is_object())
        throw errors::propertyValueTypeError(argumentText(saved), "Volumes");
    SavedVolume out;
    VolumeSpec& spec = out.spec;
    bool haveId = false, haveDrives = false;
    for (auto it = saved.begin(); it != saved.end(); ++it) {
        const std::string& key = it.key();
        const Json& value = it.value();
        if (key == "Id") {
            out.id = takeString(value, key);
            if (!isVolumeId(out.id))
                throw errors::propertyValueFormatError(out.id, key);
            haveId = true;
        } else if (key == "UUID") {
            out.uuid = takeString(value, key);
            if (!isUuid(out.uuid))
                throw errors::propertyValueFormatError(out.uuid, key);
        } else if (takeVolumeSetting(spec, key, value)) {
            continue;
        } else if (key == "Drives") {
            if (!value.is_array())
                throw errors::propertyValueTypeError(argumentText(value), key);
            for (const auto& id : value)
                spec.driveIds.push_back(takeString(id, key));
            checkDriveList(spec.driveIds, key);
            haveDrives = true;
        } else {
            throw errors::propertyUnknown(key);
        }
    }
    settleRaidType(spec);
    for (const auto& [have, name] : {std::pair<bool, const char*>{haveId, "Id"},
                                     {!spec.name.empty(), "Name"},
                                     {!spec.raidType.empty(), "RAIDType"},
                                     {spec.capacityBytes.has_value(), "CapacityBytes"},
                                     {haveDrives, "Drives"}}) {
        if (!have)
            throw errors::propertyMissing(name);
    }
    return out;
}

uint64_t checkVolumePlausible(const Controller& c, const VolumeSpec& spec,
                              const std::string& driveUriPrefix) {
    const RaidRule* rule = findRaidRule(spec.raidType);
    if (!rule)
        throw errors::propertyValueNotInList(spec.raidType, "RAIDType");
    std::string media;
    uint64_t smallest = 0;
    const Drive* fullest = nullptr;
    for (const auto& id : spec.driveIds) {
        const std::string uri = driveUriPrefix + id;
        const Drive* d = c.drive(id);
        if (!d)
            throw errors::resourceNotFound("Drive", id);
        if (d->hotspareType != "None")
            throw errors::resourceInUse("Links/Drives");
        if (d->failed())
            throw errors::propertyValueResourceConflict("Links/Drives", uri, uri);
        if (!media.empty() && d->mediaType != media)
            throw errors::propertyValueConflict("Links/Drives", "MediaType");
        media = d->mediaType;
        smallest = smallest == 0 ? d->capacityBytes : std::min(smallest, d->capacityBytes);
        if (!fullest || c.freeBytes(*d) < c.freeBytes(*fullest))
            fullest = d;
    }
    const uint64_t shares = dataDrives(spec.raidType, spec.driveIds.size());
    if (shares == 0)
        throw errors::propertyValueConflict("Links/Drives", "RAIDType");
    if (!spec.name.empty()) {
        for (const auto& v : c.volumes) {
            if (v.name == spec.name)
                throw errors::resourceAlreadyExists("Volume", "Name", spec.name);
        }
    }
    if (spec.encrypted && !c.encryptionCapable)
        throw errors::propertyValueNotInList("true", "Encrypted")
            .withDetail("The controller cannot encrypt volumes.");
    // Each drive gives the volume an equal share, so the drive with the least
    // room left decides; whole blocks only.
    const uint64_t leastFree = c.freeBytes(*fullest);
    const uint64_t available = leastFree * shares - leastFree * shares % 512;
    auto noRoom = [&](const char* property) {
        return errors::resourceInUse(property).withDetail(
            "Drive " + fullest->id + " has " + std::to_string(leastFree) + " bytes free; a " +
            spec.raidType + " volume on these drives can have at most " +
            std::to_string(available) + " bytes.");
    };
    if (!spec.capacityBytes) {
        if (available < kMinVolumeBytes)
            throw noRoom("Links/Drives");
        return available;
    }
    const uint64_t requested = *spec.capacityBytes;
    if (requested < kMinVolumeBytes || requested > smallest * shares)
        throw errors::propertyValueOutOfRange(std::to_string(requested), "CapacityBytes");
    const uint64_t capacity = requested - requested % 512; // whole blocks
    if (capacity > available)
        throw noRoom("CapacityBytes");
    return capacity;
}

std::vector<Json> volumeWarnings(const Controller& c, const VolumeSpec& spec,
                                 const std::string& driveUriPrefix) {
    std::vector<Json> warnings;
    for (const auto& id : spec.driveIds) {
        const Drive* d = c.drive(id);
        if (d && d->failurePredicted)
            warnings.push_back(driveFailurePredicted(driveUriPrefix + id));
    }
    return warnings;
}

Volume& createVolume(Controller& c, const VolumeSpec& spec, const std::string& driveUriPrefix,
                     const std::string& uuid) {
    const uint64_t capacity = checkVolumePlausible(c, spec, driveUriPrefix);
    Volume v;
    v.id = std::to_string(c.nextVolumeId);
    while (c.volume(v.id))
        v.id = std::to_string(++c.nextVolumeId);
    c.nextVolumeId++;
    v.name = spec.name.empty() ? "Volume " + v.id : spec.name;
    v.displayName = spec.displayName;
    v.raidType = spec.raidType;
    v.capacityBytes = capacity;
    v.stripSizeBytes = spec.stripSizeBytes;
    v.readCachePolicy = spec.readCachePolicy;
    v.writeCachePolicy = spec.writeCachePolicy;
    v.encrypted = spec.encrypted;
    v.uuid = uuid;
    v.driveIds = spec.driveIds;
    c.volumes.push_back(v);
    return c.volumes.back();
}

void patchVolume(Controller& c, Volume& v, const Json& body) {
    Volume next = v;
    bool changed = false;
    for (auto it = body.begin(); it != body.end(); ++it) {
        const std::string& key = it.key();
        const Json& value = it.value();
        if (isAnnotation(key))
            continue;
        if (key == "Name") {
            next.name = takeName(value, key, false);
            for (const auto& other : c.volumes) {
                if (other.id != v.id && other.name == next.name)
                    throw errors::resourceAlreadyExists("Volume", "Name", next.name);
            }
        } else if (key == "DisplayName") {
            next.displayName = takeName(value, key, true);
        } else if (key == "ReadCachePolicy") {
            next.readCachePolicy = takeEnum(value, key, kReadCachePolicies);
        } else if (key == "WriteCachePolicy") {
            next.writeCachePolicy = takeEnum(value, key, kWriteCachePolicies);
        } else if (key == "RAIDType" || key == "CapacityBytes" || key == "StripSizeBytes" ||
                   key == "Links" || kVolumeReadOnly.count(key)) {
            throw errors::propertyNotWritable(key);
        } else {
            throw errors::propertyUnknown(key);
        }
        changed = true;
    }
    if (!changed)
        throw errors::noOperation();
    v = next;
}

void patchDrive(Controller& c, Drive& d, const Json& body, const std::string& driveUri) {
    Drive next = d;
    bool changed = false;
    const Json* led = nullptr;
    const Json* lamp = nullptr;
    static const std::set<std::string> readOnly = {
        "Id",         "Status",         "CapacityBytes",    "MediaType",
        "Protocol",   "Model",          "SerialNumber",     "Manufacturer",
        "Revision",   "BlockSizeBytes", "RotationSpeedRPM", "FailurePredicted",
        "Links",      "Actions",        "Identifiers",      "Name",
        "Description"};
    for (auto it = body.begin(); it != body.end(); ++it) {
        const std::string& key = it.key();
        const Json& value = it.value();
        if (isAnnotation(key))
            continue;
        if (key == "HotspareType") {
            next.hotspareType = takeEnum(value, key, {"None", "Global"});
            if (next.hotspareType != "None") {
                if (c.inVolume(d.id))
                    throw errors::resourceInUse(key);
                if (d.failed())
                    throw errors::propertyValueResourceConflict(key, next.hotspareType, driveUri);
            }
        } else if (key == "LocationIndicatorActive") {
            lamp = &value;
        } else if (key == "IndicatorLED") {
            led = &value;
        } else if (readOnly.count(key)) {
            throw errors::propertyNotWritable(key);
        } else {
            throw errors::propertyUnknown(key);
        }
        changed = true;
    }
    if (!changed)
        throw errors::noOperation();
    next.indicatorLed = takeIndicator(d.indicatorLed, led, lamp);
    d = next;
}

std::string takeIndicator(const std::string& current, const Json* indicatorLed,
                          const Json* locationIndicatorActive) {
    std::string led = current;
    if (indicatorLed)
        led = takeEnum(*indicatorLed, "IndicatorLED", kIndicatorLedValues);
    if (locationIndicatorActive) {
        const bool on = takeBool(*locationIndicatorActive, "LocationIndicatorActive");
        if (indicatorLed && on != (led != "Off"))
            throw errors::propertyValueConflict("IndicatorLED", "LocationIndicatorActive");
        if (!indicatorLed)
            led = !on ? "Off" : led == "Off" ? "Lit" : led;
    }
    return led;
}

void checkDriveErasable(const Controller& c, const Drive& d, const std::string& driveUri) {
    if (c.inVolume(d.id) || d.hotspareType != "None")
        throw errors::resourceInUse();
    if (d.failed())
        throw errors::propertyValueResourceConflict("Status", d.state, driveUri);
}

std::string parseInitializeType(const Json& body) {
    std::string type = "Fast";
    for (auto it = body.begin(); it != body.end(); ++it) {
        if (isAnnotation(it.key()))
            continue;
        if (it.key() != "InitializeType")
            throw errors::actionParameterUnknown("Volume.Initialize", it.key());
        if (!it.value().is_string())
            throw errors::actionParameterValueError("InitializeType", "Volume.Initialize");
        type = it.value().get<std::string>();
        if (type != "Fast" && type != "Slow")
            throw errors::actionParameterValueNotInList(type, "InitializeType",
                                                        "Volume.Initialize");
    }
    return type;
}

} // namespace tolvane::plugin
