#include "storagemodel.h"

#include <algorithm>
#include <stdexcept>

namespace tolvane::plugin {

const std::vector<uint64_t> kStripSizes = {65536, 131072, 262144, 524288, 1048576};
const std::vector<std::string> kReadCachePolicies = {"ReadAhead", "AdaptiveReadAhead", "Off"};
const std::vector<std::string> kWriteCachePolicies = {"WriteThrough", "ProtectedWriteBack",
                                                      "UnprotectedWriteBack", "Off"};

const std::vector<std::string> kIndicatorLedValues = {"Off", "Lit", "Blinking"};

const std::vector<RaidRule>& raidRules() {
    static const std::vector<RaidRule> rules = {
        {"RAID0", 1, 8, false}, {"RAID1", 2, 2, false}, {"RAID5", 3, 8, false},
        {"RAID6", 4, 8, false}, {"RAID10", 4, 8, true},
    };
    return rules;
}

const RaidRule* findRaidRule(const std::string& type) {
    for (const auto& rule : raidRules()) {
        if (type == rule.type)
            return &rule;
    }
    return nullptr;
}

uint64_t dataDrives(const std::string& type, size_t drives) {
    const RaidRule* rule = findRaidRule(type);
    if (!rule || drives < rule->minDrives || drives > rule->maxDrives ||
        (rule->evenCount && drives % 2 != 0))
        return 0;
    if (type == "RAID0")
        return drives;
    if (type == "RAID1")
        return 1;
    if (type == "RAID5")
        return drives - 1;
    if (type == "RAID6")
        return drives - 2;
    return drives / 2; // RAID10
}

uint64_t usableCapacity(const std::string& type, size_t drives, uint64_t smallest) {
    return smallest * dataDrives(type, drives);
}

uint64_t bytesPerDrive(const Volume& v) {
    const uint64_t shares = dataDrives(v.raidType, v.driveIds.size());
    return shares == 0 ? v.capacityBytes : (v.capacityBytes + shares - 1) / shares;
}

void checkVolumesFit(const Controller& c) {
    for (const auto& v : c.volumes) {
        for (size_t i = 0; i < v.driveIds.size(); ++i) {
            if (!c.drive(v.driveIds[i]))
                throw std::runtime_error("volume " + v.id + " names unknown drive " +
                                         v.driveIds[i]);
            if (std::find(v.driveIds.begin() + static_cast<long>(i) + 1, v.driveIds.end(),
                          v.driveIds[i]) != v.driveIds.end())
                throw std::runtime_error("volume " + v.id + " names drive " + v.driveIds[i] +
                                         " twice");
        }
        if (dataDrives(v.raidType, v.driveIds.size()) == 0)
            throw std::runtime_error("volume " + v.id + " is no " + v.raidType + " over " +
                                     std::to_string(v.driveIds.size()) + " drive(s)");
    }
    for (const auto& d : c.drives) {
        uint64_t taken = 0;
        for (const Volume* v : c.volumesOfDrive(d.id))
            taken += bytesPerDrive(*v);
        if (taken > d.capacityBytes)
            throw std::runtime_error("the volumes on drive " + d.id + " take " +
                                     std::to_string(taken) + " of its " +
                                     std::to_string(d.capacityBytes) + " bytes");
    }
}

Drive* Controller::drive(const std::string& driveId) {
    for (auto& d : drives) {
        if (d.id == driveId)
            return &d;
    }
    return nullptr;
}

const Drive* Controller::drive(const std::string& driveId) const {
    return const_cast<Controller*>(this)->drive(driveId);
}

Volume* Controller::volume(const std::string& volumeId) {
    for (auto& v : volumes) {
        if (v.id == volumeId)
            return &v;
    }
    return nullptr;
}

std::vector<const Volume*> Controller::volumesOfDrive(const std::string& driveId) const {
    std::vector<const Volume*> out;
    for (const auto& v : volumes) {
        if (std::find(v.driveIds.begin(), v.driveIds.end(), driveId) != v.driveIds.end())
            out.push_back(&v);
    }
    return out;
}

uint64_t Controller::freeBytes(const Drive& d) const {
    uint64_t taken = 0;
    for (const Volume* v : volumesOfDrive(d.id))
        taken += bytesPerDrive(*v);
    return taken >= d.capacityBytes ? 0 : d.capacityBytes - taken;
}

StorageModel StorageModel::makeDefault() {
    StorageModel model;
    Controller c;
    const uint64_t ssd = 960197124096ULL;  // 960 GB
    const uint64_t hdd = 1200243695616ULL; // 1.2 TB
    for (int i = 0; i < 8; ++i) {
        Drive d;
        d.id = std::to_string(i);
        bool isSsd = i < 4;
        d.mediaType = isSsd ? "SSD" : "HDD";
        d.protocol = isSsd ? "SAS" : "SATA";
        d.model = isSsd ? "QS960-SAS12" : "QH1200-SATA6";
        d.revision = isSsd ? "S102" : "H210";
        d.capacityBytes = isSsd ? ssd : hdd;
        d.rotationSpeedRPM = isSsd ? 0 : 10000;
        d.serialNumber = "QVXD" + std::to_string(100000 + i * 7919);
        c.drives.push_back(d);
    }
    // Simulated wear: one drive predicts its failure, one has failed.
    c.drives[6].health = "Warning";
    c.drives[6].failurePredicted = true;
    c.drives[7].health = "Critical";
    c.drives[7].state = "UnavailableOffline";
    model.controllers_.push_back(c);
    return model;
}

Controller* StorageModel::controller(const std::string& controllerId) {
    for (auto& c : controllers_) {
        if (c.id == controllerId)
            return &c;
    }
    return nullptr;
}

Json volumeToJson(const Volume& v) {
    return Json{{"Id", v.id},
                {"Name", v.name},
                {"DisplayName", v.displayName},
                {"RAIDType", v.raidType},
                {"CapacityBytes", v.capacityBytes},
                {"StripSizeBytes", v.stripSizeBytes},
                {"ReadCachePolicy", v.readCachePolicy},
                {"WriteCachePolicy", v.writeCachePolicy},
                {"Encrypted", v.encrypted},
                {"UUID", v.uuid},
                {"Drives", v.driveIds}};
}

namespace {
bool isIndicatorLed(const std::string& value) {
    return std::find(kIndicatorLedValues.begin(), kIndicatorLedValues.end(), value) !=
           kIndicatorLedValues.end();
}

// A size as stored: a negative or fractional number would otherwise come
// back as a huge unsigned one, be served and exported, and fail the restore.
uint64_t sizeAt(const Json& j, const char* name) {
    const Json& value = j.at(name);
    if (!value.is_number_unsigned() || value.get<uint64_t>() == 0)
        throw std::runtime_error(std::string(name) + " " + value.dump() + " is not a size");
    return value.get<uint64_t>();
}
} // namespace

Volume volumeFromJson(const Json& j) {
    Volume v;
    v.id = j.at("Id").get<std::string>();
    v.name = j.at("Name").get<std::string>();
    v.displayName = j.value("DisplayName", std::string());
    v.raidType = j.at("RAIDType").get<std::string>();
    v.capacityBytes = sizeAt(j, "CapacityBytes");
    v.stripSizeBytes = j.value("StripSizeBytes", uint64_t{65536});
    v.readCachePolicy = j.value("ReadCachePolicy", std::string("ReadAhead"));
    v.writeCachePolicy = j.value("WriteCachePolicy", std::string("WriteThrough"));
    v.encrypted = j.value("Encrypted", false);
    v.uuid = j.value("UUID", std::string());
    v.driveIds = j.at("Drives").get<std::vector<std::string>>();
    return v;
}

Json StorageModel::toJson() const {
    Json list = Json::array();
    for (const auto& c : controllers_) {
        Json drives = Json::array();
        for (const auto& d : c.drives) {
            drives.push_back(Json{{"Id", d.id},
                                  {"Model", d.model},
                                  {"SerialNumber", d.serialNumber},
                                  {"Revision", d.revision},
                                  {"MediaType", d.mediaType},
                                  {"Protocol", d.protocol},
                                  {"CapacityBytes", d.capacityBytes},
                                  {"BlockSizeBytes", d.blockSizeBytes},
                                  {"RotationSpeedRPM", d.rotationSpeedRPM},
                                  {"State", d.state},
                                  {"Health", d.health},
                                  {"FailurePredicted", d.failurePredicted},
                                  {"HotspareType", d.hotspareType},
                                  {"IndicatorLED", d.indicatorLed},
                                  {"LocationIndicatorActive", d.indicatorLed != "Off"}});
        }
        Json volumes = Json::array();
        for (const auto& v : c.volumes)
            volumes.push_back(volumeToJson(v));
        Json jc = {{"Id", c.id},
                   {"Name", c.name},
                   {"Manufacturer", c.manufacturer},
                   {"Model", c.model},
                   {"SerialNumber", c.serialNumber},
                   {"PartNumber", c.partNumber},
                   {"FirmwareVersion", c.firmwareVersion},
                   {"MicrocodeVersion", c.microcodeVersion},
                   {"State", c.state},
                   {"Health", c.health},
                   {"NextVolumeId", c.nextVolumeId},
                   {"EncryptionCapable", c.encryptionCapable},
                   {"Drives", drives},
                   {"Volumes", volumes}};
        if (c.spdmCertificate) {
            jc["SpdmCertificate"] =
                Json{{"Subject", c.spdmCertificate->subject},
                     {"Issuer", c.spdmCertificate->issuer},
                     {"NotAfter", c.spdmCertificate->notAfter},
                     {"FingerprintSHA256", c.spdmCertificate->fingerprintSha256}};
        }
        list.push_back(jc);
    }
    return Json{
        {"Controllers", list},
        {"Host",
         {{"PowerState", host_.powerState}, {"ChassisIndicatorLED", host_.chassisIndicatorLed}}}};
}

StorageModel StorageModel::fromJson(const Json& state) {
    try {
        StorageModel model;
        for (const auto& jc : state.at("Controllers")) {
            Controller c;
            c.id = jc.at("Id").get<std::string>();
            c.name = jc.at("Name").get<std::string>();
            c.manufacturer = jc.at("Manufacturer").get<std::string>();
            c.model = jc.at("Model").get<std::string>();
            c.serialNumber = jc.at("SerialNumber").get<std::string>();
            c.partNumber = jc.at("PartNumber").get<std::string>();
            c.firmwareVersion = jc.at("FirmwareVersion").get<std::string>();
            c.microcodeVersion = jc.at("MicrocodeVersion").get<std::string>();
            c.state = jc.at("State").get<std::string>();
            c.health = jc.at("Health").get<std::string>();
            c.nextVolumeId = jc.at("NextVolumeId").get<uint64_t>();
            c.encryptionCapable = jc.value("EncryptionCapable", false);
            for (const auto& jd : jc.at("Drives")) {
                Drive d;
                d.id = jd.at("Id").get<std::string>();
                d.model = jd.at("Model").get<std::string>();
                d.serialNumber = jd.at("SerialNumber").get<std::string>();
                d.revision = jd.at("Revision").get<std::string>();
                d.mediaType = jd.at("MediaType").get<std::string>();
                d.protocol = jd.at("Protocol").get<std::string>();
                d.capacityBytes = sizeAt(jd, "CapacityBytes");
                d.blockSizeBytes = jd.at("BlockSizeBytes").get<uint32_t>();
                d.rotationSpeedRPM = jd.at("RotationSpeedRPM").get<uint32_t>();
                d.state = jd.at("State").get<std::string>();
                d.health = jd.at("Health").get<std::string>();
                d.failurePredicted = jd.at("FailurePredicted").get<bool>();
                d.hotspareType = jd.at("HotspareType").get<std::string>();
                const bool lamp = jd.at("LocationIndicatorActive").get<bool>();
                d.indicatorLed = jd.value("IndicatorLED", std::string(lamp ? "Lit" : "Off"));
                if (!isIndicatorLed(d.indicatorLed) || (d.indicatorLed != "Off") != lamp)
                    throw std::runtime_error("drive " + d.id + " has an unusable indicator");
                c.drives.push_back(d);
            }
            for (const auto& jv : jc.at("Volumes"))
                c.volumes.push_back(volumeFromJson(jv));
            checkVolumesFit(c);
            if (jc.contains("SpdmCertificate")) {
                const Json& s = jc["SpdmCertificate"];
                c.spdmCertificate = SpdmCertificate{s.at("Subject").get<std::string>(),
                                                    s.at("Issuer").get<std::string>(),
                                                    s.at("NotAfter").get<std::string>(),
                                                    s.at("FingerprintSHA256").get<std::string>()};
            }
            model.controllers_.push_back(c);
        }
        if (model.controllers_.empty())
            throw std::runtime_error("no controller");
        // State files from before the host had a state of its own start it on.
        if (state.contains("Host")) {
            const Json& h = state["Host"];
            model.host_.powerState = h.at("PowerState").get<std::string>();
            model.host_.chassisIndicatorLed = h.at("ChassisIndicatorLED").get<std::string>();
            if ((model.host_.powerState != "On" && model.host_.powerState != "Off") ||
                !isIndicatorLed(model.host_.chassisIndicatorLed))
                throw std::runtime_error("the host state is not usable");
        }
        return model;
    } catch (const Json::exception& e) {
        throw std::runtime_error(std::string("storage state: ") + e.what());
    }
}

} // namespace tolvane::plugin
