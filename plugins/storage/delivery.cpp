#include "delivery.h"

#include <chrono>
#include <memory>

#ifdef TOLVANE_PLUGIN_HAVE_CURL
#include <curl/curl.h>
#endif

namespace tolvane::plugin {

EventDelivery::EventDelivery(PluginLog log, Policy policy) : log_(log), policy_(policy) {}

EventDelivery::~EventDelivery() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    if (worker_.joinable())
        worker_.join();
}

bool EventDelivery::available() {
#ifdef TOLVANE_PLUGIN_HAVE_CURL
    return true;
#else
    return false;
#endif
}

bool EventDelivery::enqueue(const std::string& destination, const std::string& body) {
    if (!available())
        return false;
    std::lock_guard<std::mutex> lock(mutex_);
    if (stop_ || queue_.size() >= policy_.maxQueued)
        return false;
    if (!worker_.joinable())
        worker_ = std::thread(&EventDelivery::run, this);
    queue_.push_back(Item{destination, body});
    wake_.notify_one();
    return true;
}

bool EventDelivery::stopping() {
    std::lock_guard<std::mutex> lock(mutex_);
    return stop_;
}

void EventDelivery::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stop_ || !queue_.empty(); });
        if (stop_)
            return;
        Item item = std::move(queue_.front());
        queue_.pop_front();
        bool sent = false;
        int attempt = 0;
        while (!sent && !stop_ && attempt < policy_.attempts) {
            if (attempt++ > 0 &&
                wake_.wait_for(lock, std::chrono::milliseconds(policy_.retryIntervalMs),
                               [this] { return stop_; }))
                break;
            lock.unlock();
            sent = post(item);
            lock.lock();
        }
        if (!sent && !stop_)
            log_.error("EventDelivery", "event for " + item.destination + " dropped after " +
                                            std::to_string(attempt) + " attempt(s)");
    }
}

#ifdef TOLVANE_PLUGIN_HAVE_CURL

namespace {

size_t discardBody(char*, size_t size, size_t count, void*) {
    return size * count;
}

} // namespace

bool EventDelivery::post(const Item& item) {
    static std::once_flag initialised;
    std::call_once(initialised, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> handle(curl_easy_init(), curl_easy_cleanup);
    std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> headers(
        curl_slist_append(nullptr, "Content-Type: application/json"), curl_slist_free_all);
    // No "Expect: 100-continue" round trip before the body (appending to a
    // list keeps its head).
    if (!handle || !headers || !curl_slist_append(headers.get(), "Expect:"))
        return false;
    CURL* h = handle.get();
    // An attempt under way ends as soon as the service stops.
    auto abortWhenStopping = [](void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t) -> int {
        return static_cast<EventDelivery*>(self)->stopping() ? 1 : 0;
    };
    curl_easy_setopt(h, CURLOPT_URL, item.destination.c_str());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_PROXY, ""); // straight to the subscriber
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(h, CURLOPT_POSTFIELDS, item.body.c_str());
    curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(item.body.size()));
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, policy_.connectTimeoutMs);
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, policy_.attemptTimeoutMs);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, discardBody);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION,
                     static_cast<curl_xferinfo_callback>(abortWhenStopping));
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, this);
    if (curl_easy_perform(h) != CURLE_OK)
        return false;
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    return status >= 200 && status < 300;
}

#else

bool EventDelivery::post(const Item&) {
    return false;
}

#endif

} // namespace tolvane::plugin
