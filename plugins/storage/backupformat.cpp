#include "backupformat.h"

#include <algorithm>

#include "boundedjson.h"
#include "crypto.h"
#include "imageformat.h"
#include "messages.h"
#include "storagevalidation.h"

namespace tolvane::plugin {

const char* const kBackupFormat = "Veltrano-Configuration-Backup";

namespace {

constexpr int kBackupFormatVersion = 1;

const Json& member(const Json& object, const char* name, Json::value_t type) {
    if (!object.is_object() || !object.contains(name) || object[name].type() != type) {
        // Unsigned and signed integers are both numbers for our purpose.
        if (object.is_object() && object.contains(name) && type == Json::value_t::number_unsigned &&
            object[name].is_number_integer())
            return object[name];
        throw FileFormatError(std::string("the backup lacks a valid \"") + name + "\"");
    }
    return object[name];
}

// Whether the REST API would take `id` in place of the Id of `row`, a volume
// that parseSavedVolume() took: its very rule, not a copy of it.
bool apiTakesVolumeId(Json row, const std::string& id) {
    row["Id"] = id;
    try {
        parseSavedVolume(row);
        return true;
    } catch (const RedfishError&) {
        return false;
    }
}

} // namespace

Json buildBackup(const Controller& c, const std::string& createdUtc) {
    Json drives = Json::array();
    Json spares = Json::array();
    for (const auto& d : c.drives) {
        drives.push_back(Json{{"Id", d.id}, {"SerialNumber", d.serialNumber}});
        if (d.hotspareType != "None")
            spares.push_back(d.id);
    }
    Json volumes = Json::array();
    for (const auto& v : c.volumes)
        volumes.push_back(volumeToJson(v));
    Json configuration = {{"Drives", drives}, {"HotSpares", spares}, {"Volumes", volumes}};
    Json backup = Json::object();
    backup["Format"] = kBackupFormat;
    backup["FormatVersion"] = kBackupFormatVersion;
    backup["Created"] = createdUtc;
    backup["Controller"] = Json{{"Model", c.model},
                                {"SerialNumber", c.serialNumber},
                                {"FirmwareVersion", c.firmwareVersion}};
    backup["Configuration"] = configuration;
    backup["SHA256"] = crypto::sha256Hex(configuration.dump());
    return backup;
}

RestoreResult restoreBackup(const Controller& current, const std::string& text,
                            const std::string& driveUriPrefix) {
    if (text.empty())
        throw FileFormatError("the file is empty");
    Json backup;
    try {
        backup = parseJson(text);
    } catch (const JsonTextError& e) {
        throw FileFormatError(std::string("the file is not a configuration backup (") + e.what() +
                              ")");
    }
    if (!backup.is_object() || !backup.contains("Format") || backup["Format"] != kBackupFormat)
        throw FileFormatError("the file is not a configuration backup");
    if (member(backup, "FormatVersion", Json::value_t::number_unsigned) != kBackupFormatVersion)
        throw FileFormatError("the backup format version is not supported");
    const Json& configuration = member(backup, "Configuration", Json::value_t::object);
    const std::string digest = member(backup, "SHA256", Json::value_t::string).get<std::string>();
    // The checksum tells a damaged file, nothing more: anyone can compute it
    // for a file they edited. What the backup asks for is therefore checked
    // below by the very rules of the REST API, so that a forged backup can do
    // nothing a client could not do with requests.
    if (!crypto::constantTimeEquals(crypto::sha256Hex(configuration.dump()), digest))
        throw FileFormatError("the backup does not match its checksum");
    const Json& controller = member(backup, "Controller", Json::value_t::object);
    if (member(controller, "Model", Json::value_t::string) != current.model)
        throw FileFormatError("the backup was made on another controller model");

    RestoreResult result;
    result.controller = current;
    Controller& c = result.controller;
    c.volumes.clear();
    for (auto& d : c.drives)
        d.hotspareType = "None";

    try {
        // The configuration must have been made with the drives present now.
        for (const auto& jd : member(configuration, "Drives", Json::value_t::array)) {
            const std::string id = member(jd, "Id", Json::value_t::string).get<std::string>();
            const Drive* d = c.drive(id);
            if (!d || d->serialNumber != member(jd, "SerialNumber", Json::value_t::string))
                throw FileFormatError("drive " + id + " is not the drive the backup was made with");
        }
        for (const auto& jv : member(configuration, "Volumes", Json::value_t::array)) {
            const SavedVolume saved = parseSavedVolume(jv);
            if (c.volume(saved.id))
                throw FileFormatError("the backup holds volume " + saved.id + " twice");
            // The next volume gets the Id after the highest: one the API refuses
            // would make every later export unrestorable.
            if (!apiTakesVolumeId(jv, std::to_string(std::stoull(saved.id) + 1)))
                throw FileFormatError("volume Id " + saved.id +
                                      " leaves no valid Id for the next volume");
            Volume v;
            v.id = saved.id;
            v.name = saved.spec.name;
            v.displayName = saved.spec.displayName;
            v.raidType = saved.spec.raidType;
            v.capacityBytes = checkVolumePlausible(c, saved.spec, driveUriPrefix);
            v.stripSizeBytes = saved.spec.stripSizeBytes;
            v.readCachePolicy = saved.spec.readCachePolicy;
            v.writeCachePolicy = saved.spec.writeCachePolicy;
            v.encrypted = saved.spec.encrypted;
            v.uuid = saved.uuid.empty() ? crypto::newUuid() : saved.uuid;
            v.driveIds = saved.spec.driveIds;
            c.volumes.push_back(v);
            c.nextVolumeId = std::max<uint64_t>(c.nextVolumeId, std::stoull(v.id) + 1);
            ++result.volumes;
        }
        for (const auto& js : member(configuration, "HotSpares", Json::value_t::array)) {
            if (!js.is_string())
                throw FileFormatError("the backup lists a hot spare that is not a drive Id");
            Drive* d = c.drive(js.get<std::string>());
            if (!d || d->failed() || c.inVolume(d->id) || d->hotspareType != "None")
                throw FileFormatError("drive " + js.get<std::string>() + " cannot be a hot spare");
            d->hotspareType = "Global";
            ++result.hotSpares;
        }
    } catch (const Json::exception&) {
        throw FileFormatError("the backup's configuration is incomplete");
    }
    return result;
}

} // namespace tolvane::plugin
