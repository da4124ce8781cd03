// The update service: the controller's firmware and microcode as a firmware
// inventory, images pushed as multipart uploads (through the server's upload
// road, like the OEM actions) and images fetched from a URI (SimpleUpdate).
// Every update runs as a task: the image is read and checked first, with no
// lock held; the model lock is taken only to install it when the simulated
// flashing is over.
#include <cctype>
#include <memory>
#include <mutex>
#include <shared_mutex>

#include "boundedjson.h"
#include "firmwareimages.h"
#include "imagefetch.h"
#include "messages.h"
#include "payloads.h"
#include "service.h"

namespace tolvane::plugin {

namespace {

const std::string kUpdateService = std::string(kRoot) + "/UpdateService";
const std::string kInventory = kUpdateService + "/FirmwareInventory";
// The push URI takes a multipart form (an "UpdateFile" and, optionally,
// "UpdateParameters"); the server's upload road knows this name.
const std::string kPushUri = kUpdateService + "/MultipartUpload";
const char* const kPushAction = "UpdateService.MultipartHttpPushUpdate";
const char* const kSimpleUpdate = "UpdateService.SimpleUpdate";
const char* const kPushParameters = "UpdateParameters";

struct Component {
    const char* id; // in the firmware inventory
    const char* component;
    const char* name;
    const char* oemAction; // the OEM action that installs it too
};

const Component kComponents[] = {
    {"ControllerFirmware", "Firmware", "Controller firmware", "Veltrano.InstallOrUpgradeFirmware"},
    {"ControllerMicrocode", "Microcode", "Controller microcode", "Veltrano.UpgradeMicrocode"},
};

const std::vector<std::string> kProtocols = {"HTTP", "HTTPS"};

std::string inventoryUri(const Component& k) {
    return kInventory + "/" + k.id;
}

// The controller the update service updates.
Controller& updatedController(PluginService& s) {
    return s.storage().controllers().front();
}

Json inventoryItem(PluginService& s, const Component& k) {
    const Controller& c = updatedController(s);
    const std::string uri = inventoryUri(k);
    Json j = resource(uri, "#SoftwareInventory.v1_13_0.SoftwareInventory", k.id, k.name);
    j["Version"] = std::string(k.component) == "Firmware" ? c.firmwareVersion : c.microcodeVersion;
    j["VersionScheme"] = "SemVer";
    j["Updateable"] = true;
    j["SoftwareId"] = c.model + " " + k.component;
    j["Manufacturer"] = c.manufacturer;
    j["Status"] = status(s.tasks().busy(uri) ? "Updating" : "Enabled", "OK");
    j["RelatedItem"] =
        Json::array({link(storageUri(c.id) + "/Controllers/" + kControllerMemberId)});
    j["RelatedItem@odata.count"] = 1;
    return j;
}

const Component* componentNamed(const std::string& component) {
    for (const Component& k : kComponents) {
        if (component == k.component)
            return &k;
    }
    return nullptr;
}

// The component the request's "Targets" name; "" when it names none, so the
// image's header decides.
std::string targetComponent(const Json& args, const std::string& action) {
    if (!args.contains("Targets"))
        return "";
    const Json& targets = args["Targets"];
    if (!targets.is_array())
        throw errors::actionParameterValueError("Targets", action);
    std::string component;
    for (const Json& target : targets) {
        const Component* found = nullptr;
        for (const Component& k : kComponents) {
            if (target.is_string() && target.get<std::string>() == inventoryUri(k))
                found = &k;
        }
        if (!found || (!component.empty() && component != found->component))
            throw errors::actionParameterValueError("Targets", action)
                .withDetail("Name one item of " + kInventory + ".");
        component = found->component;
    }
    return component;
}

// An update of the image that `check` reads and checks: the target is busy
// until the new version is installed, which cannot be cancelled. `check` runs
// before the answer (a push: the image is here) or as the task's first step
// (a fetch); either way with no lock held.
struct ImageUpdate {
    std::string action;
    std::string parameter; // what names the image in refusals
    std::string component; // "" when the image decides
    bool force = false;
    Json payload;
};

Reply startImageUpdate(
    PluginService& s, const Request& r, const ImageUpdate& update, std::shared_ptr<ImageInfo> known,
    std::function<std::string(const std::atomic<bool>&, std::atomic<int>&)> fetch) {
    TaskSpec spec;
    std::string storage;
    {
        std::shared_lock<std::shared_mutex> reading(s.modelLock());
        storage = updatedController(s).id;
    }
    const Component* target = componentNamed(known ? known->component : update.component);
    for (const Component& k : kComponents) {
        if (target && target != &k)
            continue;
        spec.busy.push_back(inventoryUri(k));
        spec.busy.push_back(oemActionUri(storage, k.oemAction));
    }
    spec.name = std::string("Update of the controller ") +
                (target ? target->component : "firmware or microcode");
    spec.payload = update.payload;
    spec.cancellable = false;
    PluginService* service = &s;
    auto info = known ? known : std::make_shared<ImageInfo>();
    const double rate = s.tasks().settings().imageBytesPerSecond;
    if (known) {
        spec.seconds = static_cast<double>(known->payloadSize) / rate;
    } else {
        spec.prepare = [service, update, info, fetch, rate](const std::atomic<bool>& stop,
                                                            std::atomic<int>& percent) {
            const std::string bytes = fetch(stop, percent);
            *info = checkImage(bytes, update.component, update.action, update.parameter);
            std::shared_lock<std::shared_mutex> reading(service->modelLock());
            checkInstallable(updatedController(*service), *info, update.force, update.action,
                             update.parameter, "ForceUpdate");
            return static_cast<double>(bytes.size()) / rate;
        };
    }
    spec.complete = [service, update, info] {
        std::unique_lock<std::shared_mutex> writing(service->modelLock());
        return installImage(*service, updatedController(*service), *info, update.force,
                            update.action, update.parameter, "ForceUpdate");
    };
    return s.tasks().start(std::move(spec), r.caller);
}

Reply pushUpdate(PluginService& s, const Request& r) {
    const Json& args = r.body();
    checkParameters(args, kPushAction, {kPushParameters});
    Json parameters = Json::object();
    if (args.contains(kPushParameters)) {
        try {
            parameters = args[kPushParameters].is_string()
                             ? parseJson(args[kPushParameters].get<std::string>())
                             : Json();
        } catch (const JsonTextError&) {
            parameters = Json();
        }
        if (!parameters.is_object())
            throw errors::actionParameterValueError(kPushParameters, kPushAction)
                .withDetail("Send a JSON object.");
    }
    checkParameters(parameters, kPushAction, {"Targets", "ForceUpdate"});
    checkApplyTime(parameters, kPushAction);
    ImageUpdate update{kPushAction, kUploadParameter, targetComponent(parameters, kPushAction),
                       flag(parameters, "ForceUpdate", kPushAction),
                       Json{{"HttpOperation", "POST"},
                            {"TargetUri", r.path},
                            {"JsonBody", Json{{kPushParameters, parameters}}.dump()}}};
    const std::string bytes = readUpload(s, args, kPushAction);
    auto info = std::make_shared<ImageInfo>(
        checkImage(bytes, update.component, kPushAction, kUploadParameter));
    {
        std::shared_lock<std::shared_mutex> reading(s.modelLock());
        checkInstallable(updatedController(s), *info, update.force, kPushAction, kUploadParameter,
                         "ForceUpdate");
    }
    return startImageUpdate(s, r, update, info, nullptr);
}

// "http://host/..." or "https://host/..." with the scheme in any letter case;
// a URI without one takes `protocol`'s.
ImageSource imageSource(const Json& args, const std::string& protocol, bool localSources) {
    if (!args.contains("ImageURI"))
        throw errors::actionParameterMissing(kSimpleUpdate, "ImageURI");
    if (!args["ImageURI"].is_string())
        throw errors::actionParameterValueError("ImageURI", kSimpleUpdate);
    std::string uri = args["ImageURI"].get<std::string>();
    auto badUri = [&](const std::string& why) {
        return errors::actionParameterValueFormatError(uri, "ImageURI", kSimpleUpdate)
            .withDetail(why);
    };
    if (uri.empty() || uri.size() > 2048)
        throw badUri("Give an http or https URI of at most 2048 characters.");
    for (char ch : uri) {
        if (static_cast<unsigned char>(ch) <= 0x20 || ch == 0x7f)
            throw badUri("A URI holds no blanks or control characters.");
    }
    size_t schemeEnd = uri.find("://");
    std::string scheme = schemeEnd == std::string::npos ? "" : uri.substr(0, schemeEnd);
    for (char& ch : scheme)
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    if (scheme.empty()) {
        scheme = protocol.empty() ? "http" : protocol == "HTTPS" ? "https" : "http";
        uri = scheme + "://" + uri;
        schemeEnd = scheme.size();
    }
    if (scheme != "http" && scheme != "https")
        throw badUri("Only http and https sources are taken.");
    if (!protocol.empty() && protocol != (scheme == "https" ? "HTTPS" : "HTTP"))
        throw errors::actionParameterValueError("TransferProtocol", kSimpleUpdate)
            .withDetail("It differs from the scheme of ImageURI.");
    const size_t hostStart = schemeEnd + 3;
    const std::string authority =
        uri.substr(hostStart, uri.find_first_of("/?#", hostStart) - hostStart);
    if (authority.empty() || authority.find('@') != std::string::npos)
        throw badUri("Name the host; give credentials as Username and Password.");
    std::string host = authority;
    if (host.front() == '[')
        host = host.substr(0, host.find(']') + 1);
    else
        host = host.substr(0, host.find(':'));
    if (!fetchHostAllowed(host, localSources))
        throw badUri("Loopback and link-local sources are not allowed.");
    ImageSource source{uri, "", ""};
    for (auto [name, field] :
         {std::pair{"Username", &source.userName}, std::pair{"Password", &source.password}}) {
        if (!args.contains(name))
            continue;
        if (!args[name].is_string())
            throw errors::actionParameterValueError(name, kSimpleUpdate);
        *field = args[name].get<std::string>();
    }
    return source;
}

Reply simpleUpdate(PluginService& s, const Request& r) {
    const Json& args = r.body();
    checkParameters(
        args, kSimpleUpdate,
        {"ImageURI", "TransferProtocol", "Targets", "Username", "Password", "ForceUpdate"});
    checkApplyTime(args, kSimpleUpdate);
    std::string protocol;
    if (args.contains("TransferProtocol")) {
        protocol = argumentText(args["TransferProtocol"]);
        if (std::find(kProtocols.begin(), kProtocols.end(), protocol) == kProtocols.end())
            throw errors::actionParameterValueNotInList(protocol, "TransferProtocol",
                                                        kSimpleUpdate);
    }
    const TaskSettings& settings = s.tasks().settings();
    const ImageSource source = imageSource(args, protocol, settings.localImageSources);
    Json shown = args;
    shown.erase("Password"); // a task shows what was asked, never a secret
    ImageUpdate update{
        kSimpleUpdate, "ImageURI", targetComponent(args, kSimpleUpdate),
        flag(args, "ForceUpdate", kSimpleUpdate),
        Json{{"HttpOperation", "POST"}, {"TargetUri", r.path}, {"JsonBody", shown.dump()}}};
    const FetchLimits limits{kMaxUploadBytes, settings.downloadTimeoutSeconds,
                             settings.localImageSources};
    return startImageUpdate(
        s, r, update, nullptr,
        [source, limits](const std::atomic<bool>& stop, std::atomic<int>& percent) {
            return fetchImage(source, limits, kSimpleUpdate, "ImageURI", stop, percent);
        });
}

} // namespace

void addUpdateResources(Router& router, PluginService& service) {
    PluginService* s = &service;
    router.add("GET", "UpdateService", [](const Request&) {
        Json j = resource(kUpdateService, "#UpdateService.v1_17_0.UpdateService", "UpdateService",
                          "Update Service");
        j["ServiceEnabled"] = true;
        j["Status"] = status("Enabled", "OK");
        j["FirmwareInventory"] = link(kInventory);
        // HttpPushUri is deprecated in favour of this one and not named;
        // the URI takes the same form there either way.
        j["MultipartHttpPushUri"] = kPushUri;
        j["MaxImageSizeBytes"] = kMaxUploadBytes;
        j["Actions"] = Json{{"#UpdateService.SimpleUpdate",
                             Json{{"target", kUpdateService + "/Actions/" + kSimpleUpdate},
                                  {"TransferProtocol@Redfish.AllowableValues", kProtocols}}}};
        return Reply::ok(j);
    });
    router.add("GET", "UpdateService/FirmwareInventory", [](const Request&) {
        std::vector<std::string> members;
        for (const Component& k : kComponents)
            members.push_back(inventoryUri(k));
        return Reply::ok(collection(kInventory,
                                    "#SoftwareInventoryCollection.SoftwareInventoryCollection",
                                    "Firmware Inventory", members));
    });
    router.add("GET", "UpdateService/FirmwareInventory/{item}", [s](const Request& r) {
        for (const Component& k : kComponents) {
            if (r.param("item") == k.id)
                return Reply::ok(inventoryItem(*s, k));
        }
        throw errors::resourceNotFound("SoftwareInventory", r.param("item"));
    });
    // Both read and check the image before they take the model lock.
    router.addUpload("UpdateService/MultipartUpload");
    router.add("POST", "UpdateService/MultipartUpload", Access::Own,
               [s](const Request& r) { return pushUpdate(*s, r); });
    router.add("POST", std::string("UpdateService/Actions/") + kSimpleUpdate, Access::Own,
               [s](const Request& r) { return simpleUpdate(*s, r); });
    router.add("POST", "UpdateService/Actions/{action}", [](const Request& r) -> Reply {
        throw errors::actionNotSupported(r.param("action"));
    });
}

} // namespace tolvane::plugin
