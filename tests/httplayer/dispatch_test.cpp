// Method dispatch of CivetServer::requestHandler, the status-code forms and
// the one-at-a-time rule for handler calls.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "hostkit.h"

using hostkit::exchange;
using hostkit::statusOf;

namespace {

// Records which operations ran; answers in the plain form with the name of
// the operation unless told to decline.
class RecordingHandler : public CivetHandler {
  public:
    bool answerPlain = true;

    std::vector<std::string> calls() {
        std::lock_guard<std::mutex> lock(mutex_);
        return calls_;
    }

#define RECORDING_PAIR(name)                                                                       \
    bool name(CivetServer*, struct mg_connection*, int* status) override {                         \
        record(#name "(status)", status);                                                          \
        return false;                                                                              \
    }                                                                                              \
    bool name(CivetServer*, struct mg_connection* conn) override {                                 \
        record(#name, nullptr);                                                                    \
        if (answerPlain)                                                                           \
            hostkit::answer(conn, 200, #name);                                                     \
        return answerPlain;                                                                        \
    }
    RECORDING_PAIR(handleGet)
    RECORDING_PAIR(handlePost)
    RECORDING_PAIR(handleFilePost)
    RECORDING_PAIR(handleHead)
    RECORDING_PAIR(handlePut)
    RECORDING_PAIR(handleDelete)
    RECORDING_PAIR(handleOptions)
    RECORDING_PAIR(handlePatch)
#undef RECORDING_PAIR

  private:
    void record(const char* what, int* status) {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.push_back(what);
        // The layer presets the status code to -1.
        if (status != nullptr && *status != -1)
            calls_.push_back("status was not -1");
    }
    std::mutex mutex_;
    std::vector<std::string> calls_;
};

std::string request(const std::string& method, const std::string& extraHeaders = "",
                    const std::string& body = "") {
    std::string r = method + " /redfish/v1/Thing HTTP/1.1\r\nHost: localhost\r\n" + extraHeaders;
    if (!body.empty() || method == "POST")
        r += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    return r + "Connection: close\r\n\r\n" + body;
}

class Dispatch : public ::testing::Test {
  protected:
    void SetUp() override { host.server().addHandler("/redfish", handler); }
    hostkit::TestHost host;
    RecordingHandler handler;
};

} // namespace

TEST_F(Dispatch, EachMethodReachesItsPairStatusFormFirst) {
    const std::vector<std::pair<std::string, std::string>> table = {
        {"GET", "handleGet"},    {"POST", "handlePost"},     {"HEAD", "handleHead"},
        {"PUT", "handlePut"},    {"DELETE", "handleDelete"}, {"OPTIONS", "handleOptions"},
        {"PATCH", "handlePatch"}};
    for (const auto& entry : table) {
        const std::string response = exchange(host.port(), request(entry.first));
        EXPECT_EQ(statusOf(response), 200) << entry.first;
        if (entry.first != "HEAD") {
            EXPECT_EQ(hostkit::bodyOf(response), entry.second) << entry.first;
        }
    }
    std::vector<std::string> expected;
    for (const auto& entry : table) {
        expected.push_back(entry.second + "(status)");
        expected.push_back(entry.second);
    }
    EXPECT_EQ(handler.calls(), expected);
}

TEST_F(Dispatch, MultipartPostInAnyLetterCaseIsAnUpload) {
    const std::vector<std::string> types = {
        "multipart/form-data; boundary=----XyZ", "MULTIPART/FORM-DATA; boundary=abc",
        "Multipart/Form-Data;boundary=\"q\"",
        "text/plain; note=multipart/form-data", // anywhere in the value counts
    };
    for (const std::string& type : types) {
        const std::string body = "------XyZ\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\n1"
                                 "\r\n------XyZ--\r\n";
        const std::string response =
            exchange(host.port(), request("POST", "Content-Type: " + type + "\r\n", body));
        EXPECT_EQ(hostkit::bodyOf(response), "handleFilePost") << type;
    }
}

TEST_F(Dispatch, OtherPostsReachHandlePost) {
    for (const std::string& headers :
         {std::string("Content-Type: application/json\r\n"), std::string(""),
          std::string("Content-Type: multipart/mixed; boundary=x\r\n"),
          std::string("X-Note: multipart/form-data\r\n")}) {
        const std::string response = exchange(host.port(), request("POST", headers, "{}"));
        EXPECT_EQ(hostkit::bodyOf(response), "handlePost") << headers;
    }
}

TEST_F(Dispatch, GetWithMultipartContentTypeStillReachesHandleGet) {
    const std::string response =
        exchange(host.port(), request("GET", "Content-Type: multipart/form-data; boundary=zz\r\n"));
    EXPECT_EQ(hostkit::bodyOf(response), "handleGet");
    EXPECT_EQ(handler.calls(), (std::vector<std::string>{"handleGet(status)", "handleGet"}));
}

TEST_F(Dispatch, MethodsAreComparedCaseSensitively) {
    // "get" is not a method the engine knows; it answers on its own.
    const std::string response = exchange(host.port(), request("get"));
    EXPECT_NE(hostkit::bodyOf(response), "handleGet");
    EXPECT_TRUE(handler.calls().empty());
}

TEST_F(Dispatch, WebDavMethodCallsNoOperation) {
    const std::string response = exchange(host.port(), request("PROPFIND", "Depth: 0\r\n"));
    EXPECT_GT(statusOf(response), 0) << "the engine answers itself";
    EXPECT_TRUE(handler.calls().empty());
    // The engine went on with its own handling: no status of ours.
    const std::vector<int> statuses = host.endStatuses();
    ASSERT_EQ(statuses.size(), 1u);
    EXPECT_NE(statuses[0], 200);
}

TEST_F(Dispatch, DefaultOperationsYieldZero) {
    // A handler that keeps the base class's operations for PUT and HEAD.
    struct GetOnly : CivetHandler {
        bool handleGet(CivetServer*, struct mg_connection* conn) override {
            hostkit::answer(conn, 200, "get");
            return true;
        }
    } getOnly;
    host.server().addHandler("/redfish", getOnly);
    for (const std::string method : {"PUT", "HEAD"}) {
        const std::string response = exchange(host.port(), request(method, "", "x"));
        // Declined: the engine answers with its own error, not 200.
        EXPECT_GE(statusOf(response), 400) << method << "\n" << response;
    }
    EXPECT_EQ(statusOf(exchange(host.port(), request("GET"))), 200);
}

TEST_F(Dispatch, DecliningPlainFormHandsTheRequestBack) {
    handler.answerPlain = false;
    const std::string response = exchange(host.port(), request("GET"));
    EXPECT_EQ(statusOf(response), 404) << response;
    EXPECT_EQ(handler.calls(), (std::vector<std::string>{"handleGet(status)", "handleGet"}));
}

namespace {
// Status-code forms that decide: 0 (not handled) or 200 (answered).
class StatusFormHandler : public CivetHandler {
  public:
    std::atomic<int> plainCalls{0};
    bool handleGet(CivetServer*, struct mg_connection*, int* status) override {
        *status = 0;
        return true; // the result of this form is not what counts
    }
    bool handleGet(CivetServer*, struct mg_connection*) override {
        ++plainCalls;
        return true;
    }
    bool handlePatch(CivetServer*, struct mg_connection* conn, int* status) override {
        hostkit::answer(conn, 200, "patched");
        *status = 200;
        return false;
    }
    bool handlePatch(CivetServer*, struct mg_connection*) override {
        ++plainCalls;
        return false;
    }
};
} // namespace

TEST(DispatchStatusForms, ZeroAndTwoHundredAreReturnedWithoutThePlainForm) {
    hostkit::TestHost host;
    StatusFormHandler handler;
    host.server().addHandler("/redfish", handler);

    // 0: not handled; the engine continues and, with no files to serve,
    // answers 404 itself.
    const std::string get = exchange(host.port(), request("GET"));
    EXPECT_EQ(statusOf(get), 404) << get;

    const std::string patch = exchange(host.port(), request("PATCH", "", "{}"));
    EXPECT_EQ(statusOf(patch), 200);
    EXPECT_EQ(hostkit::bodyOf(patch), "patched");
    EXPECT_EQ(handler.plainCalls.load(), 0);

    // The engine records the callback's result as the request's status.
    const std::vector<int> statuses = host.endStatuses();
    ASSERT_EQ(statuses.size(), 2u);
    EXPECT_EQ(statuses[0], 404);
    EXPECT_EQ(statuses[1], 200);
}

TEST(DispatchGuards, NullHandlerYieldsZero) {
    hostkit::TestHost host;
    host.server().addHandler("/redfish", static_cast<CivetHandler*>(nullptr));
    const std::string response = exchange(host.port(), request("GET"));
    EXPECT_EQ(statusOf(response), 404) << response;
}

namespace {
// The engine traces a request once its head is read, before the handler lock.
size_t tracedRequests(const hostkit::TestHost& host) {
    size_t n = 0;
    for (const std::string& line : host.infoLines())
        n += line.find("Request : HTTP Method : ") != std::string::npos;
    return n;
}

// Holds its first call until every request has been read, so they are all
// in flight together; counts how many calls run at once.
class HoldingHandler : public CivetHandler {
  public:
    HoldingHandler(const hostkit::TestHost& host, size_t requests)
        : host_(host), requests_(requests) {}
    std::atomic<int> maxInside{0};
    std::atomic<int> calls{0};
    std::atomic<bool> allInFlight{false};
    bool handleGet(CivetServer*, struct mg_connection* conn) override { return serve(conn); }
    bool handlePost(CivetServer*, struct mg_connection* conn) override { return serve(conn); }

  private:
    bool serve(struct mg_connection* conn) {
        const int now = ++inside_;
        int seen = maxInside.load();
        while (now > seen && !maxInside.compare_exchange_weak(seen, now)) {
        }
        if (++calls == 1)
            allInFlight = ts::waitUntil([this] { return tracedRequests(host_) >= requests_; });
        --inside_;
        hostkit::answer(conn, 200, "ok");
        return true;
    }
    const hostkit::TestHost& host_;
    const size_t requests_;
    std::atomic<int> inside_{0};
};

class DispatchLock : public ::testing::Test {
  protected:
    void SetUp() override { mg_set_debug_log_type(4); }
    void TearDown() override { mg_set_debug_log_type(0); }
    hostkit::TestHost host;
};
} // namespace

TEST_F(DispatchLock, SimultaneousRequestsNeverOverlapInHandlerCalls) {
    const int kClients = 4;
    HoldingHandler handler(host, kClients);
    host.server().addHandler("/redfish", handler);

    std::vector<std::thread> clients;
    std::vector<int> statuses(kClients, -1);
    for (int i = 0; i < kClients; ++i) {
        clients.emplace_back([&, i] {
            statuses[i] =
                statusOf(exchange(host.port(), request(i % 2 ? "POST" : "GET", "", "{}")));
        });
    }
    for (std::thread& t : clients)
        t.join();

    for (int s : statuses)
        EXPECT_EQ(s, 200);
    EXPECT_TRUE(handler.allInFlight) << "the requests never waited together";
    EXPECT_EQ(handler.calls.load(), kClients);
    EXPECT_EQ(handler.maxInside.load(), 1);
}

TEST_F(DispatchLock, HandlerCallsHoldTheProcessWideLock) {
    struct Probe : CivetHandler {
        std::atomic<bool> entered{false};
        bool handleGet(CivetServer*, struct mg_connection* conn) override {
            entered = true;
            hostkit::answer(conn, 200, "ok");
            return true;
        }
    } probe;
    host.server().addHandler("/redfish", probe);

    // While the test holds mg_global_lock, a request that has arrived cannot
    // reach its handler.
    mg_global_lock();
    std::atomic<int> status{-1};
    std::thread client([&] { status = statusOf(exchange(host.port(), request("GET"))); });
    const bool arrived = ts::waitUntil([&] { return tracedRequests(host) == 1; }, 10000);
    // Bounded only in what it can show: under the lock the handler never runs.
    const bool enteredUnderLock = ts::waitUntil([&] { return probe.entered.load(); }, 300);
    mg_global_unlock();
    client.join();
    EXPECT_TRUE(arrived);
    EXPECT_FALSE(enteredUnderLock) << "handler ran without the lock";
    EXPECT_EQ(status.load(), 200);
}
