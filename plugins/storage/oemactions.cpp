// The controller's OEM actions. Four take a file that the server stored from
// a multipart upload and names in "absoluteFilePath"; the export answers with
// a file that the server streams back.
#include <filesystem>
#include <fstream>
#include <mutex>
#include <shared_mutex>

#include "backupformat.h"
#include "boundedjson.h"
#include "crypto.h"
#include "firmwareimages.h"
#include "messages.h"
#include "persistence.h"
#include "service.h"

namespace tolvane::plugin {

namespace {

namespace fs = std::filesystem;

// The image is read and checked with no lock held; the model lock is taken
// only to check it against the controller and install it.
Reply installUploadedImage(PluginService& s, const Request& r, const std::string& action,
                           const std::string& component) {
    {
        std::shared_lock<std::shared_mutex> reading(s.modelLock());
        s.controller(r.param("system"), r.param("storage")); // a missing one first (404)
    }
    const Json& args = r.body();
    // The missing file first: it is what a JSON POST of this action lacks.
    const std::string bytes = readUpload(s, args, action);
    checkParameters(args, action, {"AllowDowngrade"});
    const bool allowDowngrade = flag(args, "AllowDowngrade", action);
    const ImageInfo info = checkImage(bytes, component, action, kUploadParameter);
    std::unique_lock<std::shared_mutex> writing(s.modelLock());
    return installImage(s, s.controller(r.param("system"), r.param("storage")), info,
                        allowDowngrade, action, kUploadParameter, "AllowDowngrade");
}

// Progress lines of a restore, in the log file the server names (only the
// restore log of our own log directory is written).
class RestoreLog {
  public:
    RestoreLog(const PluginService& s, const Json& args) : s_(s) {
        fs::path ours = s.paths().logDir / "RestoreConfiguration.log";
        if (args.contains("logFilePath") && args["logFilePath"].is_string() &&
            fs::path(args["logFilePath"].get<std::string>()).lexically_normal() !=
                ours.lexically_normal())
            s.log().debug("RestoreConfiguration",
                          "ignoring the log path " + args["logFilePath"].get<std::string>());
        std::error_code ec;
        fs::create_directories(s.paths().logDir, ec);
        out_.open(ours, std::ios::app);
    }
    // `text` may carry names and Ids from the request or the backup.
    void line(const std::string& text) {
        if (out_)
            out_ << utcTimeText(s_.now()) << " RestoreConfiguration: " << escapeControl(text)
                 << std::endl;
    }

  private:
    const PluginService& s_;
    std::ofstream out_;
};

Reply restoreConfiguration(PluginService& s, Controller& c, const Json& args) {
    const std::string action = "Veltrano.RestoreConfiguration";
    RestoreLog log(s, args);
    log.line("started");
    try {
        checkParameters(args, action, {});
        // A backup is parsed whole; anything past the parse budget is refused
        // before it is read.
        const std::string text = readUpload(s, args, action, JsonBudget().maxBytes);
        RestoreResult result;
        try {
            result = restoreBackup(c, text, driveCollectionUri() + "/");
        } catch (const FileFormatError& e) {
            throw badFile(action, kUploadParameter, e);
        }
        log.line("backup checked: " + std::to_string(result.volumes) + " volume(s), " +
                 std::to_string(result.hotSpares) + " hot spare(s)");
        Reply reply = s.changeStorage([&] {
            c = result.controller;
            return Reply::ok(successPayload("The configuration with " +
                                            std::to_string(result.volumes) +
                                            " volume(s) is restored."));
        });
        log.line("completed");
        return reply;
    } catch (const RedfishError& e) {
        log.line("failed: " + e.messages().front()["Message"].get<std::string>());
        throw;
    } catch (const std::exception& e) {
        // A state write that failed: the log must not stop without a word.
        log.line(std::string("failed: ") + e.what());
        throw;
    }
}

Reply exportConfiguration(PluginService& s, Controller& c, const Json& args) {
    checkParameters(args, "Veltrano.ExportConfiguration", {});
    Json backup = buildBackup(c, utcTimeText(s.now()));
    writeFileAtomically(s.paths().backupFile, backup.dump(2) + "\n", 0600);
    return Reply::file(s.paths().backupFile.string(), "application/octet-stream");
}

Json certificateJson(const SpdmCertificate& cert) {
    return Json{{"Subject", cert.subject},
                {"Issuer", cert.issuer},
                {"NotAfter", cert.notAfter},
                {"FingerprintSHA256", cert.fingerprintSha256}};
}

Reply spdmOperations(PluginService& s, Controller& c, const Json& args) {
    const std::string action = "Veltrano.SPDMOperations";
    checkParameters(args, action, {"Operation", "Nonce"});
    if (!args.contains("Operation"))
        throw errors::actionParameterMissing(action, "Operation");
    const std::string op = argumentText(args["Operation"]);
    if (op == "SetCertificate") {
        const std::string text = readUpload(s, args, action);
        SpdmCertificate cert;
        try {
            cert = parsePemCertificate(text);
        } catch (const FileFormatError& e) {
            throw badFile(action, kUploadParameter, e);
        }
        return s.changeStorage([&] {
            c.spdmCertificate = cert;
            Json j = successPayload("The SPDM certificate is provisioned.");
            j["Operation"] = op;
            j["Certificate"] = certificateJson(cert);
            return Reply::ok(j);
        });
    }
    if (op == "GetCertificate") {
        if (!c.spdmCertificate)
            throw errors::actionParameterValueError("Operation", action)
                .withDetail("No SPDM certificate is provisioned.");
        Json j = successPayload();
        j["Operation"] = op;
        j["Certificate"] = certificateJson(*c.spdmCertificate);
        return Reply::ok(j);
    }
    if (op == "GetMeasurements") {
        std::string nonce;
        if (args.contains("Nonce"))
            nonce = argumentText(args["Nonce"]);
        if (nonce.size() > 64)
            throw errors::actionParameterValueError("Nonce", action);
        Json measurements = Json::array();
        int index = 1;
        for (const auto& [component, version] :
             {std::pair<std::string, std::string>{"Firmware", c.firmwareVersion},
              {"Microcode", c.microcodeVersion}}) {
            measurements.push_back(
                Json{{"Index", index++},
                     {"Component", component},
                     {"Version", version},
                     {"DigestSHA256", crypto::sha256Hex(nonce + component + " " + version)}});
        }
        Json j = successPayload();
        j["Operation"] = op;
        j["Nonce"] = nonce;
        j["Measurements"] = measurements;
        return Reply::ok(j);
    }
    throw errors::actionParameterValueNotInList(op, "Operation", action);
}

} // namespace

void addOemActions(Router& router, PluginService& service) {
    PluginService* s = &service;
    const std::string actions = "Systems/{system}/Storage/{storage}/Actions/Oem/";
    for (const char* action : {"Veltrano.InstallOrUpgradeFirmware", "Veltrano.UpgradeMicrocode",
                               "Veltrano.SPDMOperations"})
        router.addUpload(actions + action);
    router.addUpload(actions + "Veltrano.RestoreConfiguration", true);
    router.add("POST", "Systems/{system}/Storage/{storage}/Actions/Oem/{action}", Access::Own,
               [s](const Request& r) {
                   const std::string& action = r.param("action");
                   if (action == "Veltrano.InstallOrUpgradeFirmware")
                       return installUploadedImage(*s, r, action, "Firmware");
                   if (action == "Veltrano.UpgradeMicrocode")
                       return installUploadedImage(*s, r, action, "Microcode");
                   std::unique_lock<std::shared_mutex> writing(s->modelLock());
                   Controller& c = s->controller(r.param("system"), r.param("storage"));
                   const Json& args = r.body();
                   if (action == "Veltrano.RestoreConfiguration")
                       return restoreConfiguration(*s, c, args);
                   if (action == "Veltrano.SPDMOperations")
                       return spdmOperations(*s, c, args);
                   if (action == "Veltrano.ExportConfiguration")
                       return exportConfiguration(*s, c, args);
                   throw errors::actionNotSupported(action);
               });
    // Unknown standard actions are refused as such rather than as missing URIs.
    for (const char* pattern :
         {"Systems/{system}/Storage/{storage}/Actions/{action}",
          "Systems/{system}/Storage/{storage}/Volumes/{volume}/Actions/{action}",
          "Chassis/{chassis}/Drives/{drive}/Actions/{action}"}) {
        router.add("POST", pattern, [](const Request& r) -> Reply {
            throw errors::actionNotSupported(r.param("action"));
        });
    }
}

} // namespace tolvane::plugin
