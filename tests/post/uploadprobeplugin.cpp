// Resource plug-in for upload tests. Behaves like the scripted plug-in (same
// control folder $SCRIPTED_PLUGIN_DIR, replies.json, calls.jsonl) and, for
// every POST whose argument names a file in "absoluteFilePath", also records
// what that file held at the time of the call: "fileExists", "fileContent",
// "fileMode" (permission bits).
#include "RedfishPlugin.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include <nlohmann/json.hpp>

namespace {

using Json = nlohmann::ordered_json;

std::string controlDir() {
    const char* env = std::getenv("SCRIPTED_PLUGIN_DIR");
    std::string d = env ? env : "./";
    if (d.empty() || d.back() != '/')
        d += '/';
    return d;
}

std::string slurp(const std::string& path, bool& ok) {
    std::ifstream in(path, std::ios::binary);
    ok = static_cast<bool>(in);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void answer(const char* method, const char* uri, const char* body, std::string& reply) {
    Json line;
    line["entry"] = method;
    line["uri"] = uri ? uri : "";
    line["body"] = body ? body : "";
    Json argument = Json::parse(body ? body : "", nullptr, false);
    if (argument.is_object() && argument.contains("absoluteFilePath") &&
        argument["absoluteFilePath"].is_string() &&
        !argument["absoluteFilePath"].get<std::string>().empty()) {
        const std::string path = argument["absoluteFilePath"].get<std::string>();
        bool ok = false;
        std::string content = slurp(path, ok);
        line["fileExists"] = ok;
        line["fileContent"] = content;
        struct stat info {};
        if (stat(path.c_str(), &info) == 0)
            line["fileMode"] = static_cast<int>(info.st_mode & 07777);
    }
    bool ok = false;
    Json script = Json::parse(slurp(controlDir() + "replies.json", ok), nullptr, false);
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
    if (chosen && chosen->is_string())
        reply = chosen->get<std::string>();
    else if (chosen && chosen->is_object())
        reply = chosen->value("reply", std::string());
    else
        reply = R"({"HttpStatus":200,"Data":{"probe":"ok"}})";
    std::string text = line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    if (FILE* f = std::fopen((controlDir() + "calls.jsonl").c_str(), "a")) {
        std::fprintf(f, "%s\n", text.c_str());
        std::fclose(f);
    }
}

} // namespace

REDFISH_PLUGIN_EXPORT bool initializeAllPlugins(RedfishModuleHandle) {
    return true;
}
REDFISH_PLUGIN_EXPORT bool uninitializeAllPlugins(RedfishModuleHandle) {
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
