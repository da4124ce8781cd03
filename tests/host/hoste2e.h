// Helpers shared by the end-to-end tests of the server routine and service.
#ifndef TOLVANE_TESTS_HOST_HOSTE2E_H
#define TOLVANE_TESTS_HOST_HOSTE2E_H

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "testsupport.h"

namespace hoste2e {

constexpr char kStarting[] = "Starting Redfish Server....\n";
constexpr char kLogPluginFailed[] = "Failed to initialize the log service plugin ............\n";
constexpr char kBanner[] = "------- Running Redfish Server by Command ---------\n";
constexpr char kLine502[] = "REDFISHSERVER:redfishserver.cpp:502:mainRedfishServer()::[DEBUG]"
                            "webserver module loading failed  !!!\n";
constexpr char kLine503[] =
    "REDFISHSERVER:redfishserver.cpp:503:mainRedfishServer()::[DEBUG]Exit\n";
constexpr char kLine488[] =
    "REDFISHSERVER:redfishserver.cpp:488:mainRedfishServer()::[TRACE]Call trace\n";

inline std::string startedLine(int port, bool tls) {
    return "Redfish server started : https://X.X.X.X:" + std::to_string(port) + (tls ? "s" : "") +
           "/redfish\n";
}

inline std::vector<std::string> entries(const ts::InstallTree& tree) {
    std::vector<std::string> out;
    for (const auto& call : tree.calls())
        out.push_back(call.value("entry", ""));
    return out;
}

} // namespace hoste2e

#endif
