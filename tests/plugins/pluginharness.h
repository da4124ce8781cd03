// Loads a private copy of the resource plug-in from a temporary server
// directory and calls its entry points with the argument texts the server
// builds, so tests see exactly what the server would.
#ifndef TOLVANE_TESTS_PLUGINHARNESS_H
#define TOLVANE_TESTS_PLUGINHARNESS_H

#include <filesystem>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "RedfishPlugin.h"
#include "testsupport.h"

namespace plugintest {

using Json = nlohmann::ordered_json;

using ts::makeTempDir;
using ts::readFile;
using ts::writeFile;

// A log sink (RedfishPlugin.h's LogFn) that keeps every line, safe from any
// thread; waitForLog() gives all lines once `text` is among them (or after 20 s).
void captureLog(const char* format, ...);
std::string waitForLog(const std::string& text);

struct Call {
    int status = 0;
    Json data;  // "Data" of the reply
    Json reply; // the whole reply
    std::string text;
};

class LoadedPlugin {
  public:
    // Copies the plug-in into <root>/RedfishServer/ and loads it from there;
    // the log directory is <root>/logs/.
    explicit LoadedPlugin(const std::filesystem::path& root = makeTempDir("tolvane-plugin"));
    ~LoadedPlugin();

    bool initialize();
    void uninitialize();

    // An entry point by name; null when the plug-in does not export it.
    void* symbol(const char* name) const;
    // The resources it declares right below the service root, which the
    // server serves itself: where a walk of the plug-in's tree starts.
    std::vector<std::string> topLevelUris() const;

    // Safe from several threads at once: it keeps no state of its own.
    Call call(const std::string& method, const std::string& uri, const std::string& body = "{}");
    Call get(const std::string& uri) { return call("GET", uri); }
    Call post(const std::string& uri, const Json& body) { return call("POST", uri, body.dump()); }
    Call patch(const std::string& uri, const Json& body) { return call("PATCH", uri, body.dump()); }
    Call del(const std::string& uri) { return call("DELETE", uri); }
    // A call the server makes for `user` with `privileges` ("Login,...").
    Call callAs(const std::string& user, const std::string& privileges, const std::string& method,
                const std::string& uri, const std::string& body = "{}");

    // The login argument text the server builds around a client's body.
    Call login(const std::string& user, const std::string& password);
    // The same with the "clientAddress" member that newer servers add.
    Call loginFrom(const std::string& user, const std::string& password,
                   const std::string& clientAddress);
    std::string adminPassword() const;

    // Stores `content` as the server's upload handling would and returns its path.
    std::string upload(const std::string& name, const std::string& content) const;

    std::filesystem::path root;
    std::filesystem::path serverDir;
    std::filesystem::path logDir;
    std::string initOutput; // what initializeAllPlugins printed

  private:
    void* handle_ = nullptr;
};

} // namespace plugintest

#endif
