// The controller's OEM actions. Four take a file that the server stored from
// a multipart upload and names in "absoluteFilePath"; the export answers with
// a file that the server streams back.
#include <filesystem>
#include <fstream>
#include <mutex>
#include <shared_mutex>

#include <sys/stat.h>

#include "backupformat.h"
#include "boundedjson.h"
#include "crypto.h"
#include "imageformat.h"
#include "messages.h"
#include "persistence.h"
#include "service.h"

namespace tolvane::plugin {

namespace {

namespace fs = std::filesystem;

constexpr size_t kMaxUploadBytes = 64u * 1024 * 1024;
const char* const kUploadParameter = "UpdateFile";

// Members the server adds to an upload's arguments.
bool isServerMember(const std::string& key) {
    return key == "absoluteFilePath" || key == "logFilePath";
}

void checkParameters(const Json& args, const std::string& action,
                     std::initializer_list<const char*> known) {
    for (auto it = args.begin(); it != args.end(); ++it) {
        if (isServerMember(it.key()) || it.key().find('@') != std::string::npos)
            continue;
        bool ok = false;
        for (const char* k : known)
            ok = ok || it.key() == k;
        if (!ok)
            throw errors::actionParameterUnknown(action, it.key());
    }
}

bool flag(const Json& args, const char* name, const std::string& action) {
    if (!args.contains(name))
        return false;
    if (!args[name].is_boolean())
        throw errors::actionParameterValueError(name, action);
    return args[name].get<bool>();
}

// Whether `folder` is one the server puts uploads in: the uploads directory,
// or a request's own directory directly below the incoming one (where an
// upload stays when the server calls us overlapping).
bool isUploadFolder(const PluginService& s, const fs::path& folder) {
    std::error_code folderError, uploadsError, incomingError;
    const fs::path real = fs::canonical(folder, folderError);
    const fs::path uploads = fs::canonical(s.paths().uploadsDir, uploadsError);
    const fs::path incoming = fs::canonical(s.paths().incomingUploadsDir, incomingError);
    return !folderError && ((!uploadsError && real == uploads) ||
                            (!incomingError && real.parent_path() == incoming));
}

// The uploaded file's bytes, at most `limit` of them. Only a regular file
// directly inside an upload folder is read, whatever a client writes into the
// arguments of a plain POST: the name is checked before the file is opened
// (absolute, no "." or "..", its folder one of isUploadFolder(), not a link),
// and the file is opened without following links. The path is used as
// given: with overlapping calls it is unique to the request.
std::string readUpload(const PluginService& s, const Json& args, const std::string& action,
                       size_t limit = kMaxUploadBytes) {
    std::string given;
    if (args.contains("absoluteFilePath") && args["absoluteFilePath"].is_string())
        given = args["absoluteFilePath"].get<std::string>();
    if (given.empty())
        throw errors::actionParameterMissing(action, kUploadParameter)
            .withDetail("Send the file as a multipart/form-data upload.");
    auto refuse = [&](const char* why) {
        return errors::actionParameterValueError(kUploadParameter, action).withDetail(why);
    };
    const fs::path file(given);
    bool plain = file.is_absolute() && file.has_filename();
    for (const auto& part : file)
        plain = plain && part != "." && part != "..";
    if (!plain || !isUploadFolder(s, file.parent_path()))
        throw refuse("The file is not an upload of this server.");
    struct stat st {};
    if (::lstat(file.c_str(), &st) != 0)
        throw refuse("The uploaded file does not exist.");
    if (!S_ISREG(st.st_mode))
        throw refuse("The file is not an upload of this server.");
    std::string bytes;
    if (!readWholeFile(file, bytes, limit))
        throw errors::actionParameterValueError(kUploadParameter, action)
            .withDetail("The uploaded file cannot be read or is larger than " +
                        std::to_string(limit >> 20) + " MiB.");
    if (bytes.empty())
        throw errors::actionParameterValueError(kUploadParameter, action)
            .withDetail("The uploaded file is empty.");
    return bytes;
}

Json successWith(const std::string& detail) {
    Json j = successPayload();
    j["@Message.ExtendedInfo"][0]["Message"] =
        j["@Message.ExtendedInfo"][0]["Message"].get<std::string>() + " " + detail;
    return j;
}

RedfishError badFile(const std::string& action, const FileFormatError& e) {
    RedfishError error = errors::actionParameterValueError(kUploadParameter, action);
    error.withDetail(std::string(e.what()) + ".");
    return error;
}

// The image is read and hashed with no lock held, so looping uploads of large
// images hold no reader off; the model lock is taken only to check the image
// against the controller and install it.
Reply installImage(PluginService& s, const Request& r, const std::string& action,
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
    ImageInfo info;
    try {
        info = parseImage(bytes, component);
    } catch (const FileFormatError& e) {
        throw badFile(action, e);
    }
    std::unique_lock<std::shared_mutex> writing(s.modelLock());
    Controller& c = s.controller(r.param("system"), r.param("storage"));
    if (info.model != c.model)
        throw errors::actionParameterValueError(kUploadParameter, action)
            .withDetail("The image is for the model " + info.model + ", not " + c.model + ".");
    std::string& installed = component == "Firmware" ? c.firmwareVersion : c.microcodeVersion;
    if (isVersionText(installed) && compareVersions(info.version, installed) < 0 && !allowDowngrade)
        throw errors::actionParameterValueError(kUploadParameter, action)
            .withDetail("Version " + info.version + " is older than the installed " + installed +
                        "; set AllowDowngrade to install it.");
    return s.changeStorage([&] {
        std::string& target = component == "Firmware" ? c.firmwareVersion : c.microcodeVersion;
        target = info.version;
        s.log().debug(action.c_str(), component + " " + info.version + " installed");
        return Reply::ok(successWith(component + " version " + info.version + " is installed."));
    });
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
            throw badFile(action, e);
        }
        log.line("backup checked: " + std::to_string(result.volumes) + " volume(s), " +
                 std::to_string(result.hotSpares) + " hot spare(s)");
        Reply reply = s.changeStorage([&] {
            c = result.controller;
            return Reply::ok(successWith("The configuration with " +
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
            throw badFile(action, e);
        }
        return s.changeStorage([&] {
            c.spdmCertificate = cert;
            Json j = successWith("The SPDM certificate is provisioned.");
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
    router.add("POST", "Systems/{system}/Storage/{storage}/Actions/Oem/{action}", Access::Own,
               [s](const Request& r) {
                   const std::string& action = r.param("action");
                   if (action == "Veltrano.InstallOrUpgradeFirmware")
                       return installImage(*s, r, action, "Firmware");
                   if (action == "Veltrano.UpgradeMicrocode")
                       return installImage(*s, r, action, "Microcode");
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
