#include "poste2e.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

namespace poste2e {

namespace {

long long nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Reads until the peer closes, `deadline` passes, or (with `stopAfterHead`)
// a blank line has arrived.
std::string receive(int fd, long long deadline, bool stopAfterHead) {
    std::string out;
    char buf[8192];
    for (;;) {
        long long left = deadline - nowMs();
        if (left <= 0)
            break;
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left)) <= 0)
            break;
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            break;
        out.append(buf, static_cast<size_t>(n));
        if (stopAfterHead && out.find("\r\n\r\n") != std::string::npos)
            break;
    }
    return out;
}

} // namespace

std::string loginReply(const std::string& token, const std::string& location,
                       const std::string& role) {
    nlohmann::ordered_json reply;
    reply["response"]["HttpStatus"] = 201;
    reply["response"]["Data"]["@odata.id"] = location;
    reply["response"]["Data"]["Role"] = role;
    reply["response"]["Data"]["OSPrivilegeLevel"] = "Administrator";
    reply["response"]["Headers"]["X-Auth-Token"] = token;
    reply["response"]["Headers"]["Location"] = location;
    return reply.dump();
}

ts::InstallOptions ServerTest::installOptions() {
    return ts::InstallOptions();
}

void ServerTest::SetUp() {
    tree = std::make_unique<ts::InstallTree>(installOptions());
    server = std::make_unique<ts::ServerProcess>(*tree);
    ASSERT_TRUE(server->waitReady()) << server->output();
}

void ServerTest::TearDown() {
    if (server)
        server->stop();
    server.reset();
    tree.reset();
}

ts::Response ServerTest::post(const std::string& target, const std::string& body,
                              std::vector<std::string> headers) {
    if (body.empty())
        headers.push_back("Content-Length: 0");
    return ts::request(tree->port, "POST", target, headers, body, tree->tls);
}

ts::Response ServerTest::send(const std::string& method, const std::string& target,
                              const std::string& token, const std::string& body) {
    std::vector<std::string> headers;
    if (!token.empty())
        headers.push_back("X-Auth-Token: " + token);
    if (body.empty() && method != "GET")
        headers.push_back("Content-Length: 0");
    return ts::request(tree->port, method, target, headers, body, tree->tls);
}

ts::Response ServerTest::login(const std::string& token, const std::string& location) {
    tree->setReply(std::string("POST ") + kSessions, loginReply(token, location));
    return post(kSessions, R"({"UserName":"admin","Password":"secret"})",
                {"Content-Type: application/json"});
}

std::vector<nlohmann::json> ServerTest::callsOf(const std::string& entry) const {
    std::vector<nlohmann::json> out;
    for (auto& call : tree->calls()) {
        if (call.value("entry", "") == entry)
            out.push_back(call);
    }
    return out;
}

std::string exchangeFrom(const std::string& sourceAddress, int port, const std::string& bytes) {
    int fd = ts::connectLoopback(port, 10000, sourceAddress.c_str());
    if (fd < 0)
        return "";
    std::string out = ts::exchangeOn(fd, bytes);
    close(fd);
    return out;
}

std::string exchangeExpectingContinue(int port, const std::string& head, const std::string& body,
                                      int waitMs, std::string& interim) {
    int fd = ts::connectLoopback(port);
    if (fd < 0)
        return "";
    long long start = nowMs();
    std::string out;
    if (ts::sendAll(fd, head)) {
        interim = receive(fd, start + waitMs, true);
        if (ts::sendAll(fd, body))
            out = receive(fd, nowMs() + 10000, false);
    }
    close(fd);
    return out;
}

std::string requestText(int port, const std::string& method, const std::string& target,
                        const std::vector<std::string>& headers, const std::string& body) {
    std::string text =
        method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n";
    for (const auto& h : headers)
        text += h + "\r\n";
    text += "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n";
    return text + body;
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

} // namespace poste2e
