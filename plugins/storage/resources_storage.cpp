// The storage part of the tree: the system's Storage with its controller,
// the chassis drives and the volumes, with their changes and actions.
#include <algorithm>

#include "crypto.h"
#include "messages.h"
#include "oemschema.h"
#include "payloads.h"
#include "service.h"
#include "storagevalidation.h"

namespace tolvane::plugin {

namespace {

std::string worstHealth(const std::vector<std::string>& healths) {
    if (std::find(healths.begin(), healths.end(), "Critical") != healths.end())
        return "Critical";
    if (std::find(healths.begin(), healths.end(), "Warning") != healths.end())
        return "Warning";
    return "OK";
}

std::string volumeHealth(const Controller& c, const Volume& v) {
    std::vector<std::string> healths;
    for (const auto& id : v.driveIds) {
        if (const Drive* d = c.drive(id))
            healths.push_back(d->health);
    }
    return worstHealth(healths);
}

// What the controller resource and the Storage's embedded (deprecated)
// StorageControllers member both say of the controller, so they never differ.
Json controllerSummary(const Controller& c) {
    Json j = Json::object();
    j["Name"] = c.name;
    j["Status"] = status(c.state, c.health);
    j["Manufacturer"] = c.manufacturer;
    j["Model"] = c.model;
    j["SerialNumber"] = c.serialNumber;
    j["PartNumber"] = c.partNumber;
    j["FirmwareVersion"] = c.firmwareVersion;
    j["SpeedGbps"] = 12;
    j["SupportedControllerProtocols"] = Json::array({"PCIe"});
    j["SupportedDeviceProtocols"] = Json::array({"SAS", "SATA"});
    Json raid = Json::array();
    for (const auto& rule : raidRules())
        raid.push_back(rule.type);
    j["SupportedRAIDTypes"] = raid;
    j["CacheSummary"] = Json{{"TotalCacheSizeMiB", 4096}, {"PersistentCacheSizeMiB", 4096}};
    return j;
}

Json storagePayload(const Controller& c) {
    const std::string uri = storageUri(c.id);
    Json j = resource(uri, "#Storage.v1_21_0.Storage", c.id, c.name);
    j["Description"] = "RAID controller of the host";
    std::vector<std::string> healths = {c.health};
    for (const auto& d : c.drives)
        healths.push_back(d.health);
    j["Status"] =
        Json{{"State", c.state}, {"Health", c.health}, {"HealthRollup", worstHealth(healths)}};
    j["Controllers"] = link(uri + "/Controllers");
    // Clients older than the Controllers collection read the same controller here.
    Json embedded =
        Json{{"@odata.id", uri + "#/StorageControllers/0"}, {"MemberId", kControllerMemberId}};
    embedded.update(controllerSummary(c));
    j["StorageControllers"] = Json::array({embedded});
    Json drives = Json::array();
    for (const auto& d : c.drives)
        drives.push_back(link(driveUri(d.id)));
    j["Drives@odata.count"] = drives.size();
    j["Drives"] = drives;
    j["Volumes"] = link(uri + "/Volumes");
    j["Links"] =
        Json{{"Enclosures", Json::array({link(std::string(kRoot) + "/Chassis/" + kChassisId)})}};
    Json oem = Json::object();
    for (const auto& action : oem::actionNames()) {
        Json a = Json{{"target", oemActionUri(c.id, action)}};
        if (action == "Veltrano.SPDMOperations")
            a["Operation@Redfish.AllowableValues"] =
                Json::array({"SetCertificate", "GetCertificate", "GetMeasurements"});
        oem["#" + action] = a;
    }
    j["Actions"] = Json{{"Oem", oem}};
    return j;
}

Json controllerPayload(const Controller& c) {
    const std::string uri = storageUri(c.id) + "/Controllers/" + kControllerMemberId;
    Json j =
        resource(uri, "#StorageController.v1_11_0.StorageController", kControllerMemberId, c.name);
    j.update(controllerSummary(c));
    Json veltrano = Json{{"MicrocodeVersion", c.microcodeVersion}};
    if (c.spdmCertificate) {
        veltrano["SpdmCertificate"] =
            Json{{"Subject", c.spdmCertificate->subject},
                 {"Issuer", c.spdmCertificate->issuer},
                 {"NotAfter", c.spdmCertificate->notAfter},
                 {"FingerprintSHA256", c.spdmCertificate->fingerprintSha256}};
    }
    j["Oem"] = oem::oemMember("StorageController", veltrano);
    return j;
}

Json drivePayload(const Controller& c, const Drive& d) {
    const std::string uri = driveUri(d.id);
    Json j = resource(uri, "#Drive.v1_22_0.Drive", d.id, "Drive " + d.id);
    j["Status"] = status(d.state, d.health);
    j["Manufacturer"] = c.manufacturer;
    j["Model"] = d.model;
    j["SerialNumber"] = d.serialNumber;
    j["Revision"] = d.revision;
    j["MediaType"] = d.mediaType;
    j["Protocol"] = d.protocol;
    j["CapacityBytes"] = d.capacityBytes;
    j["BlockSizeBytes"] = d.blockSizeBytes;
    if (d.rotationSpeedRPM > 0)
        j["RotationSpeedRPM"] = d.rotationSpeedRPM;
    j["FailurePredicted"] = d.failurePredicted;
    j["HotspareType"] = d.hotspareType;
    j["LocationIndicatorActive"] = d.indicatorLed != "Off";
    j["IndicatorLED"] = d.indicatorLed;
    Json volumes = Json::array();
    for (const Volume* v : c.volumesOfDrive(d.id))
        volumes.push_back(link(volumeUri(c.id, v->id)));
    j["Links"] = Json{{"Volumes", volumes}, {"Storage", link(storageUri(c.id))}};
    j["Actions"] =
        Json{{"#Drive.SecureErase", Json{{"target", uri + "/Actions/Drive.SecureErase"}}}};
    return j;
}

Json volumePayload(const Controller& c, const Volume& v) {
    const std::string uri = volumeUri(c.id, v.id);
    Json j = resource(uri, "#Volume.v1_10_2.Volume", v.id, v.name);
    if (!v.displayName.empty())
        j["DisplayName"] = v.displayName;
    j["Status"] = status("Enabled", volumeHealth(c, v));
    j["RAIDType"] = v.raidType;
    j["CapacityBytes"] = v.capacityBytes;
    j["StripSizeBytes"] = v.stripSizeBytes;
    j["ReadCachePolicy"] = v.readCachePolicy;
    j["WriteCachePolicy"] = v.writeCachePolicy;
    j["Encrypted"] = v.encrypted;
    j["Identifiers"] = Json::array({Json{{"DurableNameFormat", "UUID"}, {"DurableName", v.uuid}}});
    Json drives = Json::array();
    for (const auto& id : v.driveIds)
        drives.push_back(link(driveUri(id)));
    j["Links"] = Json{{"Drives", drives}};
    j["Actions"] =
        Json{{"#Volume.Initialize",
              Json{{"target", uri + "/Actions/Volume.Initialize"},
                   {"InitializeType@Redfish.AllowableValues", Json::array({"Fast", "Slow"})}}}};
    return j;
}

// The chassis drives belong to the one controller.
Controller& driveController(PluginService& service) {
    return service.storage().controllers().front();
}

Drive& findDrive(Controller& c, const std::string& id) {
    Drive* d = c.drive(id);
    if (!d)
        throw errors::resourceNotFound("Drive", id);
    return *d;
}

Volume& findVolume(Controller& c, const std::string& id) {
    Volume* v = c.volume(id);
    if (!v)
        throw errors::resourceNotFound("Volume", id);
    return *v;
}

} // namespace

void addStorageResources(Router& router, PluginService& service) {
    PluginService* s = &service;
    const std::string storageBase = "Systems/{system}/Storage";

    router.add("GET", storageBase, [s](const Request& r) {
        s->controller(r.param("system"), s->storage().controllers().front().id);
        std::vector<std::string> members;
        for (const auto& c : s->storage().controllers())
            members.push_back(storageUri(c.id));
        return Reply::ok(collection(systemUri() + "/Storage",
                                    "#StorageCollection.StorageCollection", "Storage Collection",
                                    members));
    });
    router.add("GET", storageBase + "/{storage}", [s](const Request& r) {
        return Reply::ok(storagePayload(s->controller(r.param("system"), r.param("storage"))));
    });
    router.add("GET", storageBase + "/{storage}/Controllers", [s](const Request& r) {
        Controller& c = s->controller(r.param("system"), r.param("storage"));
        return Reply::ok(collection(storageUri(c.id) + "/Controllers",
                                    "#StorageControllerCollection.StorageControllerCollection",
                                    "Storage Controller Collection",
                                    {storageUri(c.id) + "/Controllers/" + kControllerMemberId}));
    });
    router.add("GET", storageBase + "/{storage}/Controllers/{controller}", [s](const Request& r) {
        Controller& c = s->controller(r.param("system"), r.param("storage"));
        if (r.param("controller") != kControllerMemberId)
            throw errors::resourceNotFound("StorageController", r.param("controller"));
        return Reply::ok(controllerPayload(c));
    });

    // Drives, kept under the chassis that holds them.
    router.add("GET", "Chassis/{chassis}/Drives", [s](const Request& r) {
        if (r.param("chassis") != kChassisId)
            throw errors::resourceNotFound("Chassis", r.param("chassis"));
        std::vector<std::string> members;
        for (const auto& d : driveController(*s).drives)
            members.push_back(driveUri(d.id));
        return Reply::ok(collection(driveCollectionUri(), "#DriveCollection.DriveCollection",
                                    "Drive Collection", members));
    });
    const std::string drivePattern = "Chassis/{chassis}/Drives/{drive}";
    auto checkChassis = [](const Request& r) {
        if (r.param("chassis") != kChassisId)
            throw errors::resourceNotFound("Chassis", r.param("chassis"));
    };
    router.add("GET", drivePattern, [s, checkChassis](const Request& r) {
        checkChassis(r);
        Controller& c = driveController(*s);
        return Reply::ok(drivePayload(c, findDrive(c, r.param("drive"))));
    });
    router.add("PATCH", drivePattern, [s, checkChassis](const Request& r) {
        checkChassis(r);
        const Json& body = r.body();
        return s->changeStorage([&] {
            Controller& c = driveController(*s);
            Drive& d = findDrive(c, r.param("drive"));
            patchDrive(c, d, body, driveUri(d.id));
            return Reply::ok(drivePayload(c, d));
        });
    });
    router.add("POST", drivePattern + "/Actions/Drive.SecureErase",
               [s, checkChassis](const Request& r) {
                   checkChassis(r);
                   Controller& c = driveController(*s);
                   Drive& d = findDrive(c, r.param("drive"));
                   checkDriveErasable(c, d, driveUri(d.id));
                   return startDriveErase(*s, r, d.id);
               });

    // Volumes.
    const std::string volumes = storageBase + "/{storage}/Volumes";
    router.add("GET", volumes, [s](const Request& r) {
        Controller& c = s->controller(r.param("system"), r.param("storage"));
        std::vector<std::string> members;
        for (const auto& v : c.volumes)
            members.push_back(volumeUri(c.id, v.id));
        return Reply::ok(collection(storageUri(c.id) + "/Volumes",
                                    "#VolumeCollection.VolumeCollection", "Volume Collection",
                                    members));
    });
    router.add("POST", volumes, [s](const Request& r) {
        const Json& body = r.body();
        checkApplyTime(body, "");
        return offerVolumeCreationAsTask(*s, r, s->changeStorage([&] {
            Controller& c = s->controller(r.param("system"), r.param("storage"));
            const std::string prefix = driveCollectionUri() + "/";
            VolumeSpec spec = parseVolumeCreate(body, prefix);
            Volume& v = createVolume(c, spec, prefix, crypto::newUuid());
            s->log().debug("CreateVolume", "volume " + v.id + " (" + v.raidType + ") created");
            Json payload = volumePayload(c, v);
            const std::vector<Json> warnings = volumeWarnings(c, spec, prefix);
            if (!warnings.empty())
                payload["@Message.ExtendedInfo"] = warnings;
            return Reply::created(payload);
        }));
    });
    const std::string volume = volumes + "/{volume}";
    router.add("GET", volume, [s](const Request& r) {
        Controller& c = s->controller(r.param("system"), r.param("storage"));
        return Reply::ok(volumePayload(c, findVolume(c, r.param("volume"))));
    });
    router.add("PATCH", volume, [s](const Request& r) {
        const Json& body = r.body();
        return s->changeStorage([&] {
            Controller& c = s->controller(r.param("system"), r.param("storage"));
            Volume& v = findVolume(c, r.param("volume"));
            patchVolume(c, v, body);
            return Reply::ok(volumePayload(c, v));
        });
    });
    router.add("DELETE", volume, [s](const Request& r) {
        return s->changeStorage([&] {
            Controller& c = s->controller(r.param("system"), r.param("storage"));
            findVolume(c, r.param("volume"));
            c.volumes.erase(
                std::remove_if(c.volumes.begin(), c.volumes.end(),
                               [&](const Volume& v) { return v.id == r.param("volume"); }),
                c.volumes.end());
            s->log().debug("DeleteVolume", "volume " + r.param("volume") + " deleted");
            return Reply::ok(successPayload());
        });
    });
    router.add("POST", volume + "/Actions/Volume.Initialize", [s](const Request& r) {
        Controller& c = s->controller(r.param("system"), r.param("storage"));
        const Volume& v = findVolume(c, r.param("volume"));
        return startVolumeInitialize(*s, r, volumeUri(c.id, v.id), v.uuid, v.capacityBytes,
                                     parseInitializeType(r.body()));
    });
}

} // namespace tolvane::plugin
