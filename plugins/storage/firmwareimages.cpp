#include "firmwareimages.h"

#include <filesystem>
#include <system_error>

#include <sys/stat.h>

#include "messages.h"
#include "persistence.h"
#include "service.h"

namespace tolvane::plugin {

namespace fs = std::filesystem;

const char* const kUploadParameter = "UpdateFile";

namespace {

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

// Members the server adds to an upload's arguments.
bool isServerMember(const std::string& key) {
    return key == "absoluteFilePath" || key == "logFilePath";
}

} // namespace

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

std::string readUpload(const PluginService& s, const Json& args, const std::string& action,
                       size_t limit) {
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

RedfishError badFile(const std::string& action, const std::string& parameter,
                     const FileFormatError& e) {
    return errors::actionParameterValueError(parameter, action)
        .withDetail(std::string(e.what()) + ".");
}

ImageInfo checkImage(const std::string& bytes, const std::string& component,
                     const std::string& action, const std::string& parameter) {
    try {
        ImageInfo info = parseImage(bytes, component);
        if (info.component != "Firmware" && info.component != "Microcode")
            throw FileFormatError("the image holds " + info.component +
                                  ", neither Firmware nor Microcode");
        return info;
    } catch (const FileFormatError& e) {
        throw badFile(action, parameter, e);
    }
}

void checkInstallable(const Controller& c, const ImageInfo& info, bool allowDowngrade,
                      const std::string& action, const std::string& parameter,
                      const std::string& downgradeParameter) {
    if (info.model != c.model)
        throw errors::actionParameterValueError(parameter, action)
            .withDetail("The image is for the model " + info.model + ", not " + c.model + ".");
    const std::string& installed =
        info.component == "Firmware" ? c.firmwareVersion : c.microcodeVersion;
    if (isVersionText(installed) && compareVersions(info.version, installed) < 0 && !allowDowngrade)
        throw errors::actionParameterValueError(parameter, action)
            .withDetail("Version " + info.version + " is older than the installed " + installed +
                        "; set " + downgradeParameter + " to install it.");
}

Reply installImage(PluginService& s, Controller& c, const ImageInfo& info, bool allowDowngrade,
                   const std::string& action, const std::string& parameter,
                   const std::string& downgradeParameter) {
    checkInstallable(c, info, allowDowngrade, action, parameter, downgradeParameter);
    return s.changeStorage([&] {
        (info.component == "Firmware" ? c.firmwareVersion : c.microcodeVersion) = info.version;
        s.log().debug(action.c_str(), info.component + " " + info.version + " installed");
        return Reply::ok(
            successPayload(info.component + " version " + info.version + " is installed."));
    });
}

} // namespace tolvane::plugin
