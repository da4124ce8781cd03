// A loopback HTTP server for the load tool's tests: it takes one connection
// at a time, reads the request (header block and Content-Length body), sends
// whatever the test's responder returns and closes.
#ifndef TOLVANE_TESTS_BENCH_CANNEDSERVER_H
#define TOLVANE_TESTS_BENCH_CANNEDSERVER_H

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace benchtest {

class CannedServer {
  public:
    // Called with the connection's number (from 0) and the request's bytes.
    using Responder = std::function<std::string(int connection, const std::string& request)>;

    explicit CannedServer(Responder responder);
    ~CannedServer();
    CannedServer(const CannedServer&) = delete;
    CannedServer& operator=(const CannedServer&) = delete;

    int port() const { return listenPort; }
    int connections() const { return accepted.load(); }
    std::vector<std::string> requests() const;

  private:
    void serve();
    void handle(int fd, int connection);

    Responder responder;
    int listenFd = -1;
    int listenPort = 0;
    std::atomic<bool> stopping{false};
    std::atomic<int> accepted{0};
    mutable std::mutex mutex;
    std::vector<std::string> received;
    std::thread thread;
};

// A loopback port that nothing listens on (bound, then released).
int unusedPort();

} // namespace benchtest

#endif
