// Helpers for the reliability tests: a plain client that tells "no answer"
// apart from "a broken answer", the rules a well-formed answer must meet,
// and the server's resident memory over time.
#ifndef TOLVANE_RELIABILITY_H
#define TOLVANE_RELIABILITY_H

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "testsupport.h"

namespace rel {

// The session token the scripted logins hand out, its header, and the drives.
inline const std::string kToken = "reliability-token";
inline const std::string kAuth = "X-Auth-Token: " + kToken;
inline const std::string kDrives = "/redfish/v1/Chassis/1/Drives/";

// What one connection brought back.
struct Exchange {
    bool connected = false;
    bool sent = false;     // every request byte went out
    bool timedOut = false; // the server neither answered whole nor closed in time
    bool reset = false;    // the connection ended with an error (e.g. reset)
    std::string raw;       // every byte received
};

// Connects to 127.0.0.1:port, sends `bytes`, reads until the server closes or
// `timeoutMs` has passed.
Exchange roundTrip(int port, const std::string& bytes, int timeoutMs = 20000);

using ts::requestText;

// "" when `raw` is a complete answer: a status line "HTTP/1.x NNN reason",
// header lines each with a name and a colon, the blank line, and a body as
// long as a Content-Length says when there is one. Otherwise what is wrong.
std::string malformation(const std::string& raw);

// The answer's status when it is complete, else -1.
int statusOf(const std::string& raw);

// Collects failures from many client threads; keeps the first few texts.
class Failures {
  public:
    void add(const std::string& what);
    size_t count() const;
    std::string summary() const;

  private:
    mutable std::mutex mutex_;
    size_t count_ = 0;
    std::vector<std::string> first_;
};

// The scripted plug-in's answer to a login: a session with the given token.
std::string scriptedLoginReply(const std::string& token, const std::string& location);

int64_t millisSince(std::chrono::steady_clock::time_point start);

} // namespace rel

#endif
