#include "hostkit.h"

#include <stdexcept>

namespace hostkit {

namespace {

struct LibraryInit {
    LibraryInit() { mg_init_library(0); }
};

void initLibraryOnce() {
    static LibraryInit init;
}

} // namespace

TestHost::TestHost(const HostOptions& options) : dir_(ts::makeTempDir("tolvane-httplayer")) {
    initLibraryOnce();
    std::vector<std::string> opts = {"listening_ports",    "127.0.0.1:0",
                                     "num_threads",        std::to_string(options.threads),
                                     "request_timeout_ms", std::to_string(options.requestTimeoutMs),
                                     "enable_keep_alive",  options.keepAlive ? "yes" : "no",
                                     "error_log_file",     errorLogPath()};
    CivetCallbacks callbacks;
    callbacks.end_request = &TestHost::endRequest;
    server_.reset(new CivetServer(opts, &callbacks, this));
    std::vector<int> ports = server_->getListeningPorts();
    if (ports.empty()) {
        throw std::runtime_error("test host has no listening port");
    }
    port_ = ports.front();
}

TestHost::~TestHost() {
    stop();
    removeTree(dir_);
}

void TestHost::stop() {
    if (server_) {
        server_->close();
    }
}

void TestHost::endRequest(const struct mg_connection* conn, int status) {
    const struct mg_request_info* ri = mg_get_request_info(conn);
    if (ri == nullptr || ri->user_data == nullptr) {
        return;
    }
    auto* server = static_cast<CivetServer*>(ri->user_data);
    auto* host = static_cast<TestHost*>(const_cast<void*>(server->getUserContext()));
    std::lock_guard<std::mutex> lock(host->mutex_);
    host->statuses_.push_back(status);
}

std::vector<int> TestHost::endStatuses() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return statuses_;
}

std::vector<std::string> TestHost::infoLines() const {
    std::vector<std::string> result;
    for (const std::string& line : lines(errorLog())) {
        if (line.find("] [info] [client ") != std::string::npos) {
            result.push_back(line);
        }
    }
    return result;
}

void answer(struct mg_connection* conn, int status, const std::string& body) {
    mg_disable_connection_keep_alive(conn);
    mg_printf(conn,
              "HTTP/1.1 %d X\r\nContent-Type: text/plain\r\nContent-Length: %zu\r\n"
              "Connection: close\r\n\r\n",
              status, body.size());
    mg_write(conn, body.data(), body.size());
}

} // namespace hostkit
