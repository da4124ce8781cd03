#include "pluginharness.h"

#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>
#include <stdexcept>

#include <dlfcn.h>
#include <unistd.h>

namespace plugintest {

namespace {
std::mutex logMutex;
std::condition_variable logged;
std::string logLines;
} // namespace

void captureLog(const char* format, ...) {
    va_list args;
    va_start(args, format);
    char line[4096];
    vsnprintf(line, sizeof(line), format, args);
    va_end(args);
    std::lock_guard<std::mutex> lock(logMutex);
    logLines += std::string(line) + "\n";
    logged.notify_all();
}

std::string waitForLog(const std::string& text) {
    std::unique_lock<std::mutex> lock(logMutex);
    logged.wait_for(lock, std::chrono::seconds(20),
                    [&] { return logLines.find(text) != std::string::npos; });
    return logLines;
}

namespace fs = std::filesystem;

LoadedPlugin::LoadedPlugin(const fs::path& rootDir) : root(rootDir) {
    serverDir = root / "RedfishServer";
    logDir = root / "logs";
    fs::create_directories(serverDir / "uploads");
    fs::copy_file(TOLVANE_STORAGE_PLUGIN_PATH, serverDir / "WebServerAbstractionModule.so",
                  fs::copy_options::overwrite_existing);
    handle_ = dlopen((serverDir / "WebServerAbstractionModule.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_)
        throw std::runtime_error(dlerror());
}

LoadedPlugin::~LoadedPlugin() {
    uninitialize();
    if (handle_)
        dlclose(handle_);
    if (!std::getenv("TOLVANE_KEEP_TEST_DIRS")) {
        std::error_code ec;
        fs::remove_all(root, ec);
    }
}

bool LoadedPlugin::initialize() {
    auto init = reinterpret_cast<PluginInitFn>(dlsym(handle_, REDFISH_ENTRY_INITIALIZE));
    if (!init)
        return false;
    // The plug-in announces the first password on standard output.
    std::fflush(stdout);
    fs::path capture = root / "init-output.txt";
    int saved = dup(1);
    FILE* f = std::fopen(capture.c_str(), "w");
    dup2(fileno(f), 1);
    setenv("TOLVANE_LOG_DIR", logDir.c_str(), 1);
    bool ok = init(handle_);
    std::fflush(stdout);
    dup2(saved, 1);
    close(saved);
    std::fclose(f);
    initOutput = readFile(capture);
    return ok;
}

void LoadedPlugin::uninitialize() {
    if (!handle_)
        return;
    if (auto fn = reinterpret_cast<PluginUninitFn>(dlsym(handle_, REDFISH_ENTRY_UNINITIALIZE)))
        fn(handle_);
}

void* LoadedPlugin::symbol(const char* name) const {
    return dlsym(handle_, name);
}

std::vector<std::string> LoadedPlugin::topLevelUris() const {
    std::vector<std::string> uris;
    auto describe = reinterpret_cast<const char* (*)()>(symbol("describeResources"));
    const Json declared = describe ? Json::parse(describe(), nullptr, false) : Json();
    for (const Json& resource : declared.value("Resources", Json::array())) {
        const std::string uri = resource.value("Uri", "");
        const std::string below = "/redfish/v1/";
        if (uri.rfind(below, 0) == 0 && uri.find_first_of("/{", below.size()) == std::string::npos)
            uris.push_back(uri);
    }
    return uris;
}

Call LoadedPlugin::call(const std::string& method, const std::string& uri,
                        const std::string& body) {
    const char* name = method == "GET"     ? REDFISH_ENTRY_GET
                       : method == "POST"  ? REDFISH_ENTRY_POST
                       : method == "PATCH" ? REDFISH_ENTRY_PATCH
                                           : REDFISH_ENTRY_DELETE;
    auto fn = reinterpret_cast<CommandHandlerFn>(dlsym(handle_, name));
    if (!fn)
        throw std::runtime_error(std::string("missing entry point ") + name);
    std::string reply;
    fn(uri.c_str(), body.c_str(), reply);
    Call c;
    c.text = reply;
    c.reply = Json::parse(reply);
    if (c.reply.contains("HttpStatus"))
        c.status = c.reply["HttpStatus"].get<int>();
    if (c.reply.contains("Data"))
        c.data = c.reply["Data"];
    return c;
}

Call LoadedPlugin::callAs(const std::string& user, const std::string& privileges,
                          const std::string& method, const std::string& uri,
                          const std::string& body) {
    if (auto set = reinterpret_cast<SetCommandCallerFn>(dlsym(handle_, REDFISH_ENTRY_SET_CALLER)))
        set(user.c_str(), privileges.c_str());
    return call(method, uri, body);
}

Call LoadedPlugin::login(const std::string& user, const std::string& password) {
    Json body = {{"UserName", user}, {"Password", password}};
    Json args = {{"x-forwarded-for", "127.0.0.1"}, {"requestBody", body.dump()}};
    return call("POST", "/redfish/v1/SessionService/Sessions", args.dump());
}

Call LoadedPlugin::loginFrom(const std::string& user, const std::string& password,
                             const std::string& clientAddress) {
    Json body = {{"UserName", user}, {"Password", password}};
    Json args = {{"x-forwarded-for", "127.0.0.1"},
                 {"requestBody", body.dump()},
                 {"clientAddress", clientAddress}};
    return call("POST", "/redfish/v1/SessionService/Sessions", args.dump());
}

std::string LoadedPlugin::adminPassword() const {
    std::string text = readFile(serverDir / "InitialAdminPassword.txt");
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

std::string LoadedPlugin::upload(const std::string& name, const std::string& content) const {
    fs::path path = serverDir / "uploads" / name;
    writeFile(path, content);
    return path.string();
}

} // namespace plugintest
