#include "reliability.h"

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace rel {

namespace {

using Clock = std::chrono::steady_clock;

std::string lower(std::string s) {
    for (auto& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

} // namespace

int64_t millisSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

Exchange roundTrip(int port, const std::string& bytes, int timeoutMs) {
    ts::ConnectOptions o;
    o.timeoutMs = timeoutMs;
    ts::Connection c(port, o);
    Exchange ex;
    ex.connected = c.connected();
    ex.sent = c.send(bytes);
    ex.raw = c.readAll(timeoutMs);
    ex.timedOut = c.end() == ts::Connection::End::TimedOut;
    ex.reset = ex.connected && c.end() == ts::Connection::End::Failed;
    return ex;
}

std::string malformation(const std::string& raw) {
    if (raw.empty())
        return "no bytes";
    const size_t end = raw.find("\r\n\r\n");
    if (end == std::string::npos)
        return "no complete header block in " + std::to_string(raw.size()) + " bytes";
    const size_t lineEnd = raw.find("\r\n");
    const std::string statusLine = raw.substr(0, lineEnd);
    // "HTTP/1.1 200 Ok": version, three digits, a blank, a reason.
    if (statusLine.size() < 13 || statusLine.compare(0, 7, "HTTP/1.") != 0 ||
        statusLine[8] != ' ' || !std::isdigit(static_cast<unsigned char>(statusLine[9])) ||
        !std::isdigit(static_cast<unsigned char>(statusLine[10])) ||
        !std::isdigit(static_cast<unsigned char>(statusLine[11])) || statusLine[12] != ' ')
        return "bad status line: " + statusLine;
    long long declared = -1;
    size_t pos = lineEnd + 2;
    while (pos < end + 2) {
        const size_t e = raw.find("\r\n", pos);
        const std::string line = raw.substr(pos, e - pos);
        pos = e + 2;
        const size_t colon = line.find(':');
        if (colon == std::string::npos || colon == 0)
            return "bad header line: " + line;
        if (lower(line.substr(0, colon)) == "content-length") {
            char* stop = nullptr;
            const std::string value = line.substr(colon + 1);
            declared = std::strtoll(value.c_str(), &stop, 10);
            if (stop == value.c_str() || declared < 0)
                return "bad Content-Length: " + line;
        }
    }
    const size_t bodySize = raw.size() - (end + 4);
    if (declared >= 0 && static_cast<unsigned long long>(declared) != bodySize)
        return "body of " + std::to_string(bodySize) + " bytes, Content-Length " +
               std::to_string(declared);
    return "";
}

int statusOf(const std::string& raw) {
    if (!malformation(raw).empty())
        return -1;
    return std::atoi(raw.c_str() + 9);
}

void Failures::add(const std::string& what) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++count_;
    if (first_.size() < 12)
        first_.push_back(what);
}

size_t Failures::count() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return count_;
}

std::string Failures::summary() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::ostringstream out;
    out << count_ << " failure(s)";
    for (auto& f : first_)
        out << "\n  " << f;
    return out.str();
}

std::string scriptedLoginReply(const std::string& token, const std::string& location) {
    nlohmann::ordered_json reply;
    reply["response"]["HttpStatus"] = 201;
    reply["response"]["Data"] = {{"Role", "/redfish/v1/AccountService/Roles/Administrator"},
                                 {"OSPrivilegeLevel", "Administrator"}};
    reply["response"]["Headers"]["X-Auth-Token"] = token;
    reply["response"]["Headers"]["Location"] = location;
    return reply.dump();
}

} // namespace rel
