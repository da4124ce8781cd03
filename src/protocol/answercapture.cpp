#include "protocol/answercapture.h"

#include <atomic>
#include <climits>
#include <mutex>
#include <unordered_map>

#include "civetweb.h"

namespace {

std::mutex gCapturesMutex;
std::unordered_map<const struct mg_connection*, std::string*> gCaptures;
// Lets the classic profile, which never captures, skip the lock.
std::atomic<int> gActiveCaptures{0};

std::string* captureOf(const struct mg_connection* conn) {
    if (gActiveCaptures.load(std::memory_order_acquire) == 0)
        return nullptr;
    std::lock_guard<std::mutex> lock(gCapturesMutex);
    auto found = gCaptures.find(conn);
    return found == gCaptures.end() ? nullptr : found->second;
}

} // namespace

AnswerCapture::AnswerCapture(const struct mg_connection* conn) : conn_(conn) {
    std::lock_guard<std::mutex> lock(gCapturesMutex);
    gCaptures[conn_] = &bytes_;
    gActiveCaptures.fetch_add(1, std::memory_order_acq_rel);
}

AnswerCapture::~AnswerCapture() {
    std::lock_guard<std::mutex> lock(gCapturesMutex);
    gCaptures.erase(conn_);
    gActiveCaptures.fetch_sub(1, std::memory_order_acq_rel);
}

std::string AnswerCapture::take() {
    std::lock_guard<std::mutex> lock(gCapturesMutex);
    std::string taken;
    taken.swap(bytes_);
    return taken;
}

bool answerIsCaptured(const struct mg_connection* conn) {
    return captureOf(conn) != nullptr;
}

int writeAnswerBytes(struct mg_connection* conn, const char* data, size_t size) {
    // Only the request's own thread writes to its capture.
    if (std::string* capture = captureOf(conn)) {
        capture->append(data, size);
        return size > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(size);
    }
    return mg_write(conn, data, size);
}
