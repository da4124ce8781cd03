// Scripted resource plug-in for end-to-end tests.
//
// Its control folder is $SCRIPTED_PLUGIN_DIR (else the folder of this file):
//  - replies.json: an object; each call looks up "<METHOD> <uri>", then
//    "<METHOD>", then "*" (METHOD: GET, POST, PATCH, DELETE). A string value is
//    the reply text, verbatim (so non-JSON and empty replies are possible);
//    an object value {"reply": "...", "delayMs": N} also sleeps N ms in the
//    call. Without a match the reply echoes the call:
//    {"HttpStatus":200,"Data":{"entry":...,"uri":...,"body":...}}.
//  - calls.jsonl: one JSON line appended per call with "entry", "uri",
//    "body", "startNs" and "endNs" (steady clock), for every entry point;
//    when the argument names a file in "absoluteFilePath" (an upload), also
//    what that file held at the time of the call: "fileExists",
//    "fileContent" and "fileMode" (permission bits).
//  - describe.json: when there, describeResources hands it over as written.
// $SCRIPTED_INIT_RESULT=false makes initializeAllPlugins answer false. Test
// variants hide one entry point each at link time; only the variant
// "Overlapping" keeps pluginCallsMayOverlap, so the others take one call at
// a time.
#include "RedfishPlugin.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

namespace {

using Json = nlohmann::ordered_json;

std::string controlDir() {
    const char* env = std::getenv("SCRIPTED_PLUGIN_DIR");
    if (env && *env) {
        std::string d(env);
        if (d.back() != '/')
            d += '/';
        return d;
    }
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&controlDir), &info) && info.dli_fname) {
        std::string p(info.dli_fname);
        size_t slash = p.rfind('/');
        return slash == std::string::npos ? std::string("./") : p.substr(0, slash + 1);
    }
    return "./";
}

int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::mutex& recordMutex() {
    static std::mutex instance;
    return instance;
}

void record(const char* entry, const char* uri, const char* body, int64_t start, int64_t end) {
    Json line;
    line["entry"] = entry;
    line["uri"] = uri ? uri : "";
    line["body"] = body ? body : "";
    line["startNs"] = start;
    line["endNs"] = end;
    if (body && std::strstr(body, "absoluteFilePath")) {
        const Json argument = Json::parse(body, nullptr, false);
        const std::string path =
            argument.is_object() ? argument.value("absoluteFilePath", std::string()) : "";
        if (!path.empty()) {
            std::ifstream in(path, std::ios::binary);
            std::stringstream content;
            content << in.rdbuf();
            line["fileExists"] = static_cast<bool>(in);
            line["fileContent"] = content.str();
            struct stat info {};
            if (stat(path.c_str(), &info) == 0)
                line["fileMode"] = static_cast<int>(info.st_mode & 07777);
        }
    }
    std::string text = line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    // Calls may overlap (the variant that says so): one line at a time.
    std::lock_guard<std::mutex> lock(recordMutex());
    if (FILE* f = std::fopen((controlDir() + "calls.jsonl").c_str(), "a")) {
        std::fprintf(f, "%s\n", text.c_str());
        std::fclose(f);
    }
}

void answer(const char* method, const char* uri, const char* body, std::string& reply) {
    int64_t start = nowNs();
    Json script;
    {
        std::ifstream in(controlDir() + "replies.json");
        if (in) {
            std::stringstream ss;
            ss << in.rdbuf();
            script = Json::parse(ss.str(), nullptr, false);
        }
    }
    const Json* chosen = nullptr;
    if (script.is_object()) {
        for (const std::string& key : {std::string(method) + " " + (uri ? uri : ""),
                                       std::string(method), std::string("*")}) {
            auto it = script.find(key);
            if (it != script.end()) {
                chosen = &*it;
                break;
            }
        }
    }
    if (chosen && chosen->is_string()) {
        reply = chosen->get<std::string>();
    } else if (chosen && chosen->is_object()) {
        // A slow plug-in is what the scripts with a delay test.
        if (chosen->contains("delayMs"))
            std::this_thread::sleep_for(std::chrono::milliseconds(chosen->value("delayMs", 0)));
        reply = chosen->value("reply", std::string());
    } else {
        Json echo;
        echo["HttpStatus"] = 200;
        echo["Data"]["entry"] = method;
        echo["Data"]["uri"] = uri ? uri : "";
        echo["Data"]["body"] = body ? body : "";
        reply = echo.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    }
    record(method, uri, body, start, nowNs());
}

} // namespace

REDFISH_PLUGIN_EXPORT bool initializeAllPlugins(RedfishModuleHandle) {
    int64_t t = nowNs();
    record("initializeAllPlugins", "", "", t, t);
    const char* r = std::getenv("SCRIPTED_INIT_RESULT");
    return !(r && std::string(r) == "false");
}

REDFISH_PLUGIN_EXPORT bool uninitializeAllPlugins(RedfishModuleHandle) {
    int64_t t = nowNs();
    record("uninitializeAllPlugins", "", "", t, t);
    return true;
}

REDFISH_PLUGIN_EXPORT void GetCommandInterfaceHandler(const char* uri, const char* body,
                                                      std::string& reply) {
    answer("GET", uri, body, reply);
}

REDFISH_PLUGIN_EXPORT void PostCommandInterfaceHandler(const char* uri, const char* body,
                                                       std::string& reply) {
    answer("POST", uri, body, reply);
}

REDFISH_PLUGIN_EXPORT void PatchCommandInterfaceHandler(const char* uri, const char* body,
                                                        std::string& reply) {
    answer("PATCH", uri, body, reply);
}

REDFISH_PLUGIN_EXPORT void DeleteCommandInterfaceHandler(const char* uri, const char* body,
                                                         std::string& reply) {
    answer("DELETE", uri, body, reply);
}

REDFISH_PLUGIN_EXPORT const char* describeResources() {
    static std::string text;
    std::ifstream in(controlDir() + "describe.json");
    if (!in)
        return nullptr;
    std::stringstream ss;
    ss << in.rdbuf();
    text = ss.str();
    return text.c_str();
}

REDFISH_PLUGIN_EXPORT int pluginCallsMayOverlap() {
    return 1;
}
