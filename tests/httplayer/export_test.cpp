// Plug-ins link against the running program: a probe plug-in linked against
// nothing is loaded into this host (built like the program, exporting its
// dynamic symbols) and called from inside a request.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include "hostkit.h"

namespace {

typedef int (*ProbeFn)(struct mg_connection*);

class ProbeHandler : public CivetHandler {
  public:
    explicit ProbeHandler(ProbeFn probe) : probe_(probe) {}
    bool handleGet(CivetServer*, struct mg_connection* conn, int* status) override {
        *status = probe_(conn);
        return true;
    }

  private:
    ProbeFn probe_;
};

} // namespace

TEST(Exports, ProbePluginResolvesAgainstTheProgramAndRunsInARequest) {
    // RTLD_NOW: every undefined reference must resolve at load time.
    void* module = dlopen(TOLVANE_EXPORT_PROBE, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(module, nullptr) << dlerror();
    auto probe = reinterpret_cast<ProbeFn>(dlsym(module, "exportProbeRequest"));
    ASSERT_NE(probe, nullptr);

    mg_set_debug_log_type(5);
    hostkit::TestHost host;
    ProbeHandler handler(probe);
    host.server().addHandler("/redfish", handler);
    const std::string response = hostkit::exchange(
        host.port(), "GET /redfish/v1/Probe HTTP/1.1\r\nHost: x\r\nX-Probe: yes\r\n"
                     "Connection: close\r\n\r\n");
    EXPECT_EQ(hostkit::statusOf(response), 200) << response;
    EXPECT_EQ(hostkit::bodyOf(response),
              std::string("type=5 method=GET uri=/redfish/v1/Probe header=yes enc=a%20b "
                          "b64=aGk= cmp=0 find=18 version=") +
                  mg_version());
    // The engine recorded the probe's status as the request's result.
    EXPECT_EQ(host.endStatuses(), std::vector<int>{200});
    mg_set_debug_log_type(0);
    dlclose(module);
}
