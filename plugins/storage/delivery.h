// Sends events to subscribers by HTTP POST on a thread of its own, so that no
// request waits for a subscriber and the model lock is never held over the
// network. The queue is bounded (past it new events are dropped and logged),
// every attempt has time limits, and a failed delivery is retried a bounded
// number of times, then dropped.
#ifndef TOLVANE_PLUGIN_DELIVERY_H
#define TOLVANE_PLUGIN_DELIVERY_H

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "pluginlog.h"

namespace tolvane::plugin {

struct DeliveryPolicy {
    size_t maxQueued = 64;
    int attempts = 3; // the first and two retries
    int retryIntervalMs = 2000;
    long connectTimeoutMs = 3000;
    long attemptTimeoutMs = 5000;
};

class EventDelivery {
  public:
    using Policy = DeliveryPolicy;

    explicit EventDelivery(PluginLog log = PluginLog(), Policy policy = Policy());
    // Stops the thread, cutting short an attempt under way; what is still
    // queued is dropped.
    ~EventDelivery();
    EventDelivery(const EventDelivery&) = delete;
    EventDelivery& operator=(const EventDelivery&) = delete;

    // Queues `body` (JSON) for `destination`; false when the queue is full or
    // no HTTP client is built in. Never blocks on the network. An https
    // destination's certificate is checked when `verifyCertificate` says so.
    bool enqueue(const std::string& destination, const std::string& body,
                 bool verifyCertificate = true);

    // Whether this build can send events (built with libcurl's headers; the
    // library itself is loaded on the first delivery).
    static bool available();
    const Policy& policy() const { return policy_; }

  private:
    struct Item {
        std::string destination;
        std::string body;
        bool verifyCertificate = true;
    };
    void run();
    // One attempt; "" when the subscriber took the event, else why not.
    std::string post(const Item& item);
    bool stopping();

    PluginLog log_;
    Policy policy_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Item> queue_;
    bool stop_ = false;
    std::thread worker_; // started with the first event
};

} // namespace tolvane::plugin

#endif
