#include "bodyprefetch.h"

#include "civetweb_ext.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <vector>

namespace {
constexpr std::size_t kReadChunk = 16 * 1024;
}

BodyPrefetch receiveRequestBody(struct mg_connection* conn, std::size_t maxBytes, int deadlineMs,
                                std::string& body) {
    body.clear();
    const struct mg_request_info* ri = mg_get_request_info(conn);
    if (ri == nullptr) {
        return BodyPrefetch::Incomplete;
    }
    // A declared length over the cap needs no reading to be refused.
    if (ri->content_length > 0 && static_cast<unsigned long long>(ri->content_length) > maxBytes) {
        return BodyPrefetch::TooLarge;
    }

    using Clock = std::chrono::steady_clock;
    const bool timed = deadlineMs > 0;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(deadlineMs);
    // One byte beyond the cap is enough to know the body is too large.
    const std::size_t readLimit =
        maxBytes < std::numeric_limits<std::size_t>::max() ? maxBytes + 1 : maxBytes;
    // Most requests carry no body: the buffer is made only when one is read.
    std::vector<char> chunk;

    while (!tolvane_request_body_complete(conn)) {
        if (chunk.empty()) {
            chunk.resize(kReadChunk);
        }
        std::size_t want = std::min(chunk.size(), readLimit - body.size());
        if (timed) {
            // A read waits for all it asks for, so ask only for what is there.
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())
                    .count();
            if (left <= 0) {
                body.clear();
                return BodyPrefetch::Incomplete;
            }
            const int ready = tolvane_body_bytes_ready(conn, static_cast<int>(left));
            if (ready <= 0) {
                continue;
            }
            want = std::min(want, static_cast<std::size_t>(ready));
        }
        const int n = mg_read(conn, chunk.data(), want);
        if (n <= 0) {
            break;
        }
        body.append(chunk.data(), static_cast<std::size_t>(n));
        if (body.size() > maxBytes) {
            body.clear();
            return BodyPrefetch::TooLarge;
        }
    }
    if (!tolvane_request_body_complete(conn)) {
        body.clear();
        return BodyPrefetch::Incomplete;
    }
    return BodyPrefetch::Complete;
}
