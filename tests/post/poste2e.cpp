#include "poste2e.h"

namespace poste2e {

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

std::string exchangeExpectingContinue(int port, const std::string& head, const std::string& body,
                                      int waitMs, std::string& interim) {
    ts::Connection c(port);
    if (!c.send(head))
        return "";
    interim = c.readResponse(waitMs);
    return c.send(body) ? c.readAll() : "";
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

} // namespace poste2e
