#include "routes/declaredresources.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "gate/requestpath.h"
#include "jsonadapter.h"
#include "postrules.h"

namespace {

struct Resource {
    std::string pattern;
    std::string allow;
};

struct Upload {
    std::string pattern;
    OemUploadAction action; // its name points into `pattern`
};

struct Declared {
    std::vector<Resource> resources;
    std::vector<Upload> uploads;
};

// Adopted descriptions stay until the process ends: a route found in one
// stays valid for the request that found it, whatever is adopted later.
std::mutex gKeptMutex;
std::vector<std::unique_ptr<const Declared>> gKept;
std::atomic<const Declared*> gCurrent{nullptr};

// A "{...}" segment of `pattern` stands for any one segment of `path`.
bool matches(std::string_view pattern, const std::vector<std::string_view>& have) {
    const std::vector<std::string_view> want = pathSegments(pattern);
    if (want.size() != have.size())
        return false;
    for (size_t i = 0; i < want.size(); ++i) {
        const bool any = want[i].size() >= 2 && want[i].front() == '{' && want[i].back() == '}';
        if (!any && !equalsIgnoreCase(want[i], have[i]))
            return false;
    }
    return true;
}

// "GET, HEAD, POST, PATCH, PUT, DELETE", as far as declared.
std::string allowOf(const json::Value& methods) {
    std::string allow;
    auto has = [&](const char* method) {
        for (const json::Value& m : methods) {
            if (m.is_string() && m.get<std::string>() == method)
                return true;
        }
        return false;
    };
    for (const char* method : {"GET", "HEAD", "POST", "PATCH", "PUT", "DELETE"}) {
        const bool declared = has(method) || (std::string_view(method) == "HEAD" && has("GET"));
        if (declared)
            allow += (allow.empty() ? "" : ", ") + std::string(method);
    }
    return allow;
}

std::string pathOf(std::string_view uri) {
    return std::string(uri.substr(0, uri.find('?')));
}

} // namespace

bool adoptDeclaredResources(const char* text) {
    json::Value root;
    if (!text || !json::tryParseObject(text, root))
        return false;
    const json::Value resources = root.value("Resources", json::Value());
    const json::Value uploads = root.value("Uploads", json::Value::array());
    if (!resources.is_array() || !uploads.is_array())
        return false;
    auto declared = std::make_unique<Declared>();
    for (const json::Value& r : resources) {
        if (!r.is_object() || !r.value("Uri", json::Value()).is_string() ||
            !r.value("Methods", json::Value()).is_array())
            return false;
        declared->resources.push_back({r["Uri"].get<std::string>(), allowOf(r["Methods"])});
    }
    declared->uploads.reserve(uploads.size()); // names point into the patterns
    for (const json::Value& u : uploads) {
        if (!u.is_object() || !u.value("Uri", json::Value()).is_string())
            return false;
        declared->uploads.push_back({u["Uri"].get<std::string>(), {}});
        Upload& upload = declared->uploads.back();
        const json::Value logFile = u.value("LogFile", json::Value(false));
        upload.action = {upload.pattern.c_str(), logFile.is_boolean() && logFile.get<bool>()};
    }
    std::lock_guard<std::mutex> lock(gKeptMutex);
    gKept.push_back(std::move(declared));
    gCurrent.store(gKept.back().get(), std::memory_order_release);
    return true;
}

void forgetDeclaredResources() {
    gCurrent.store(nullptr, std::memory_order_release);
}

const char* declaredAllowOf(std::string_view path) {
    const Declared* declared = gCurrent.load(std::memory_order_acquire);
    if (!declared)
        return nullptr;
    const std::vector<std::string_view> segments = pathSegments(path);
    for (const Resource& r : declared->resources) {
        if (matches(r.pattern, segments))
            return r.allow.c_str();
    }
    return "GET, HEAD";
}

std::optional<const OemUploadAction*> declaredUploadOf(std::string_view pluginUri) {
    const Declared* declared = gCurrent.load(std::memory_order_acquire);
    if (!declared)
        return std::nullopt;
    const std::string path = pathOf(pluginUri);
    const std::vector<std::string_view> segments = pathSegments(path);
    for (const Upload& u : declared->uploads) {
        if (matches(u.pattern, segments))
            return &u.action;
    }
    return nullptr;
}
