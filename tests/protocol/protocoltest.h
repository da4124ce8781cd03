// Test support of the protocol tests: the program with the bundled plug-ins.
#ifndef TOLVANE_PROTOCOLTEST_H
#define TOLVANE_PROTOCOLTEST_H

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "testsupport.h"

namespace pt {

using ts::base64;

// The Authorization header line of HTTP Basic credentials.
inline std::string basic(const std::string& user, const std::string& password) {
    return "Authorization: Basic " + base64(user + ":" + password);
}

// The program with the bundled plug-ins in `profile`, ready for logins.
struct BundledServer {
    explicit BundledServer(const char* profile) : tree(options(profile)) {
        server = std::make_unique<ts::ServerProcess>(tree);
        ready = server->waitReady(30000);
        for (int i = 0; ready && i < 300 && password().empty(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100)); // plug-in start-up
    }
    static ts::InstallOptions options(const char* profile) {
        ts::InstallOptions o;
        o.resourcePlugin = ts::storagePlugin();
        o.logPlugin = ts::logServicePlugin();
        o.extraConfig = std::string("\"RedfishProtocolProfile\": \"") + profile + "\"";
        return o;
    }
    std::string password() const {
        std::string p = ts::readFile(tree.serverDir + "InitialAdminPassword.txt");
        while (!p.empty() && (p.back() == '\n' || p.back() == '\r'))
            p.pop_back();
        return p;
    }
    ts::Response get(const std::string& target, const std::string& header) const {
        return ts::request(tree.port, "GET", target, {header});
    }
    ts::InstallTree tree;
    std::unique_ptr<ts::ServerProcess> server;
    bool ready = false;
};

} // namespace pt

#endif
