// In-process test host for the HTTP layer: a CivetServer on a free loopback
// port with its error log in a private directory; clients come from the
// shared harness (ts::exchange, ts::Connection).
#ifndef TOLVANE_TESTS_HTTPLAYER_HOSTKIT_H
#define TOLVANE_TESTS_HTTPLAYER_HOSTKIT_H

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "civetserver.h"
#include "testsupport.h"

namespace hostkit {

using ts::lines;
using ts::readFile;
using ts::removeTree;

struct HostOptions {
    int threads = 8;
    int requestTimeoutMs = 3000;
    bool keepAlive = true;
};

// Starts the server at construction; stops it and removes its directory at
// destruction. Records the status the engine logs for every request.
class TestHost {
  public:
    explicit TestHost(const HostOptions& options = HostOptions());
    ~TestHost();
    TestHost(const TestHost&) = delete;
    TestHost& operator=(const TestHost&) = delete;

    CivetServer& server() { return *server_; }
    int port() const { return port_; }
    std::string errorLogPath() const { return dir_ + "/WebServer.log"; }
    std::string errorLog() const { return readFile(errorLogPath()); }
    // The [info] lines of the error log, in order.
    std::vector<std::string> infoLines() const;
    // Statuses reported to end_request, in order of completion.
    std::vector<int> endStatuses() const;
    void stop();

  private:
    static void endRequest(const struct mg_connection* conn, int status);
    std::string dir_;
    std::unique_ptr<CivetServer> server_;
    int port_ = 0;
    mutable std::mutex mutex_;
    std::vector<int> statuses_;
};

// Sends the bytes, then reads until the server closes.
using ts::exchange;
inline int statusOf(const std::string& response) {
    return ts::parseResponse(response).status;
}
inline std::string bodyOf(const std::string& response) {
    return ts::parseResponse(response).body;
}

// Writes a complete response with the given body and "Connection: close".
void answer(struct mg_connection* conn, int status, const std::string& body);

} // namespace hostkit

#endif
