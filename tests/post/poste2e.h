// Shared pieces of the POST end-to-end tests: a running server per test,
// logins, and the exchange around an interim answer ("Expect: 100-continue").
#ifndef TOLVANE_TESTS_POSTE2E_H
#define TOLVANE_TESTS_POSTE2E_H

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "testsupport.h"

namespace poste2e {

// What the plug-in answers an upload the test did not script.
constexpr const char* kProbeReply = R"({"HttpStatus":200,"Data":{"probe":"ok"}})";

// The firmware upload action the tests post to.
constexpr const char* kFirmware =
    "/redfish/v1/UpdateService/Actions/Oem/Veltrano.InstallOrUpgradeFirmware";

constexpr const char* kSessions = "/redfish/v1/SessionService/Sessions";
constexpr const char* kAdminRole = "/redfish/v1/AccountService/Roles/Administrator";

// A login reply of the plug-in: 201 with the token and location given.
std::string loginReply(const std::string& token, const std::string& location,
                       const std::string& role = kAdminRole);

// A server on a free loopback port, started for each test.
class ServerTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    // Options of the install tree; tests override to change the plug-in or
    // the configuration.
    virtual ts::InstallOptions installOptions();

    ts::Response post(const std::string& target, const std::string& body,
                      std::vector<std::string> headers = {});
    ts::Response send(const std::string& method, const std::string& target,
                      const std::string& token, const std::string& body = "");
    // Logs in with the plug-in answering `token` and `location`; the answer.
    ts::Response login(const std::string& token, const std::string& location);
    // The calls of one entry point ("POST", ...), in order.
    std::vector<nlohmann::json> callsOf(const std::string& entry) const;

    std::unique_ptr<ts::InstallTree> tree;
    std::unique_ptr<ts::ServerProcess> server;
};

// Sends the head, waits up to `waitMs` for an interim answer, then sends the
// body and reads the rest. `interim` gets what arrived before the body was
// sent; the result is everything after it.
std::string exchangeExpectingContinue(int port, const std::string& head, const std::string& body,
                                      int waitMs, std::string& interim);

// Whether `part` occurs in `text`.
bool contains(const std::string& text, const std::string& part);

} // namespace poste2e

#endif
