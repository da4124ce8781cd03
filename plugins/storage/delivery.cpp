#include "delivery.h"

#include <chrono>
#include <memory>

#include "curlapi.h"

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

bool EventDelivery::enqueue(const std::string& destination, const std::string& body,
                            bool verifyCertificate) {
    if (!available())
        return false;
    std::lock_guard<std::mutex> lock(mutex_);
    if (stop_ || queue_.size() >= policy_.maxQueued)
        return false;
    if (!worker_.joinable())
        worker_ = std::thread(&EventDelivery::run, this);
    queue_.push_back(Item{destination, body, verifyCertificate});
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
        std::string reason;
        while (!sent && !stop_ && attempt < policy_.attempts) {
            if (attempt++ > 0 &&
                wake_.wait_for(lock, std::chrono::milliseconds(policy_.retryIntervalMs),
                               [this] { return stop_; }))
                break;
            lock.unlock();
            reason = post(item);
            sent = reason.empty();
            lock.lock();
        }
        if (!sent && !stop_)
            log_.error("EventDelivery", "event for " + item.destination + " dropped after " +
                                            std::to_string(attempt) + " attempt(s): " + reason);
    }
}

#ifdef TOLVANE_PLUGIN_HAVE_CURL

namespace {

size_t discardBody(char*, size_t size, size_t count, void*) {
    return size * count;
}

} // namespace

std::string EventDelivery::post(const Item& item) {
    const CurlApi& api = curlApi();
    if (!api.loaded)
        return "libcurl.so.4 could not be loaded; no event is sent";
    std::unique_ptr<CURL, decltype(api.easyCleanup)> handle(api.easyInit(), api.easyCleanup);
    std::unique_ptr<curl_slist, decltype(api.slistFreeAll)> headers(
        api.slistAppend(nullptr, "Content-Type: application/json"), api.slistFreeAll);
    // No "Expect: 100-continue" round trip before the body (appending to a
    // list keeps its head).
    if (!handle || !headers || !api.slistAppend(headers.get(), "Expect:"))
        return "no HTTP client could be set up";
    CURL* h = handle.get();
    // An attempt under way ends as soon as the service stops.
    auto abortWhenStopping = [](void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t) -> int {
        return static_cast<EventDelivery*>(self)->stopping() ? 1 : 0;
    };
    const auto setopt = api.easySetopt;
    setopt(h, CURLOPT_URL, item.destination.c_str());
    setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    setopt(h, CURLOPT_PROXY, ""); // straight to the subscriber
    setopt(h, CURLOPT_NOSIGNAL, 1L);
    setopt(h, CURLOPT_HTTPHEADER, headers.get());
    setopt(h, CURLOPT_POSTFIELDS, item.body.c_str());
    setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(item.body.size()));
    setopt(h, CURLOPT_CONNECTTIMEOUT_MS, policy_.connectTimeoutMs);
    setopt(h, CURLOPT_TIMEOUT_MS, policy_.attemptTimeoutMs);
    setopt(h, CURLOPT_WRITEFUNCTION, discardBody);
    setopt(h, CURLOPT_NOPROGRESS, 0L);
    setopt(h, CURLOPT_XFERINFOFUNCTION, static_cast<curl_xferinfo_callback>(abortWhenStopping));
    setopt(h, CURLOPT_XFERINFODATA, this);
    if (!item.verifyCertificate) {
        setopt(h, CURLOPT_SSL_VERIFYPEER, 0L);
        setopt(h, CURLOPT_SSL_VERIFYHOST, 0L);
    }
    char detail[CURL_ERROR_SIZE] = "";
    setopt(h, CURLOPT_ERRORBUFFER, detail);
    const CURLcode result = api.easyPerform(h);
    if (result != CURLE_OK)
        return std::string(api.easyStrerror(result)) +
               (detail[0] ? std::string(": ") + detail : "");
    long status = 0;
    api.easyGetinfo(h, CURLINFO_RESPONSE_CODE, &status);
    if (status < 200 || status >= 300)
        return "the subscriber answered HTTP " + std::to_string(status);
    return "";
}

#else

std::string EventDelivery::post(const Item&) {
    return "this build sends no events";
}

#endif

} // namespace tolvane::plugin
