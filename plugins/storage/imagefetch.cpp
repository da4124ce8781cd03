#include "imagefetch.h"

#include <cstring>
#include <memory>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "curlapi.h"
#include "messages.h"

namespace tolvane::plugin {

namespace {

bool ipv4Allowed(uint32_t address, bool localSources) {
    const uint32_t a = address >> 24;
    const bool loopback = a == 127;
    const bool linkLocal = (address >> 16) == 0xA9FE; // 169.254/16
    const bool unusable = a == 0 || a >= 224;         // unspecified, multicast, reserved
    return !unusable && (localSources || (!loopback && !linkLocal));
}

bool ipv6Allowed(const unsigned char* b, bool localSources) {
    static const unsigned char kMapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    if (std::memcmp(b, kMapped, sizeof kMapped) == 0)
        return ipv4Allowed((uint32_t{b[12]} << 24) | (uint32_t{b[13]} << 16) |
                               (uint32_t{b[14]} << 8) | b[15],
                           localSources);
    bool zeroToLast = true;
    for (int i = 0; i < 15; ++i)
        zeroToLast = zeroToLast && b[i] == 0;
    const bool unspecified = zeroToLast && b[15] == 0;
    const bool loopback = zeroToLast && b[15] == 1;
    const bool linkLocal = b[0] == 0xfe && (b[1] & 0xc0) == 0x80;
    const bool multicast = b[0] == 0xff;
    return !unspecified && !multicast && (localSources || (!loopback && !linkLocal));
}

} // namespace

bool fetchAddressAllowed(const struct sockaddr* address, bool localSources) {
    if (!address)
        return false;
    if (address->sa_family == AF_INET) {
        const auto* in = reinterpret_cast<const sockaddr_in*>(address);
        return ipv4Allowed(ntohl(in->sin_addr.s_addr), localSources);
    }
    if (address->sa_family == AF_INET6) {
        const auto* in6 = reinterpret_cast<const sockaddr_in6*>(address);
        return ipv6Allowed(reinterpret_cast<const unsigned char*>(&in6->sin6_addr), localSources);
    }
    return false;
}

bool fetchHostAllowed(const std::string& host, bool localSources) {
    std::string literal = host;
    if (literal.size() > 2 && literal.front() == '[' && literal.back() == ']')
        literal = literal.substr(1, literal.size() - 2);
    sockaddr_in in{};
    sockaddr_in6 in6{};
    if (inet_pton(AF_INET, literal.c_str(), &in.sin_addr) == 1) {
        in.sin_family = AF_INET;
        return fetchAddressAllowed(reinterpret_cast<sockaddr*>(&in), localSources);
    }
    if (inet_pton(AF_INET6, literal.c_str(), &in6.sin6_addr) == 1) {
        in6.sin6_family = AF_INET6;
        return fetchAddressAllowed(reinterpret_cast<sockaddr*>(&in6), localSources);
    }
    return true; // a name: its addresses are checked when they are used
}

#ifdef TOLVANE_PLUGIN_HAVE_CURL

namespace {

struct Transfer {
    const FetchLimits* limits;
    const std::atomic<bool>* stop;
    std::atomic<int>* percent;
    std::string bytes;
    bool tooLarge = false;
    bool refusedAddress = false;
};

size_t keep(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    const size_t n = size * count;
    if (n > t->limits->maxBytes - t->bytes.size()) {
        t->tooLarge = true;
        return 0; // ends the transfer
    }
    t->bytes.append(data, n);
    return n;
}

int progress(void* user, curl_off_t total, curl_off_t now, curl_off_t, curl_off_t) {
    auto* t = static_cast<Transfer*>(user);
    if (total > 0)
        *t->percent = static_cast<int>(now * 100 / total);
    return t->stop->load() ? 1 : 0;
}

curl_socket_t openSocket(void* user, curlsocktype, struct curl_sockaddr* address) {
    auto* t = static_cast<Transfer*>(user);
    if (!fetchAddressAllowed(&address->addr, t->limits->localSources)) {
        t->refusedAddress = true;
        return CURL_SOCKET_BAD;
    }
    return ::socket(address->family, address->socktype, address->protocol);
}

RedfishError withStatus400(const RedfishError& e) {
    return RedfishError(400, e.messages());
}

} // namespace

std::string fetchImage(const ImageSource& source, const FetchLimits& limits,
                       const std::string& action, const std::string& parameter,
                       const std::atomic<bool>& stop, std::atomic<int>& percent) {
    const CurlApi& api = curlApi();
    if (!api.loaded)
        throw errors::couldNotEstablishConnection(source.uri)
            .withDetail("The service has no HTTP client (libcurl.so.4).");
    std::unique_ptr<CURL, decltype(api.easyCleanup)> handle(api.easyInit(), api.easyCleanup);
    if (!handle)
        throw errors::internalError();
    Transfer t{&limits, &stop, &percent, {}, false, false};
    CURL* h = handle.get();
    const auto setopt = api.easySetopt;
    setopt(h, CURLOPT_URL, source.uri.c_str());
    setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    setopt(h, CURLOPT_MAXREDIRS, 3L);
    setopt(h, CURLOPT_PROXY, ""); // straight to the source: its address is what is checked
    setopt(h, CURLOPT_NOSIGNAL, 1L);
    setopt(h, CURLOPT_CONNECTTIMEOUT_MS, 10000L);
    setopt(h, CURLOPT_TIMEOUT_MS, limits.timeoutSeconds * 1000L);
    setopt(h, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(limits.maxBytes));
    setopt(h, CURLOPT_WRITEFUNCTION, keep);
    setopt(h, CURLOPT_WRITEDATA, &t);
    setopt(h, CURLOPT_NOPROGRESS, 0L);
    setopt(h, CURLOPT_XFERINFOFUNCTION, progress);
    setopt(h, CURLOPT_XFERINFODATA, &t);
    setopt(h, CURLOPT_OPENSOCKETFUNCTION, openSocket);
    setopt(h, CURLOPT_OPENSOCKETDATA, &t);
    if (!source.userName.empty()) {
        setopt(h, CURLOPT_USERNAME, source.userName.c_str());
        setopt(h, CURLOPT_PASSWORD, source.password.c_str());
    }
    const CURLcode result = api.easyPerform(h);
    if (stop)
        throw errors::serviceShuttingDown();
    if (t.tooLarge || result == CURLE_FILESIZE_EXCEEDED)
        throw errors::actionParameterValueError(parameter, action)
            .withDetail("The image is larger than " + std::to_string(limits.maxBytes >> 20) +
                        " MiB.");
    if (result == CURLE_OPERATION_TIMEDOUT)
        throw errors::operationTimeout().withDetail("The image did not arrive within " +
                                                    std::to_string(limits.timeoutSeconds) + " s.");
    if (result != CURLE_OK)
        throw errors::couldNotEstablishConnection(source.uri)
            .withDetail(t.refusedAddress ? "Its address is a loopback or link-local one, which the "
                                           "configuration does not allow."
                                         : "The transfer failed (libcurl error " +
                                               std::to_string(static_cast<int>(result)) + ").");
    long status = 0;
    api.easyGetinfo(h, CURLINFO_RESPONSE_CODE, &status);
    if (status == 404 || status == 410)
        throw withStatus400(errors::resourceMissingAtUri(source.uri));
    if (status == 401 || status == 403)
        throw RedfishError(400, makeMessage("ResourceAtUriUnauthorized",
                                            {source.uri, "HTTP " + std::to_string(status)}));
    if (status != 200)
        throw errors::couldNotEstablishConnection(source.uri)
            .withDetail("The server answered HTTP " + std::to_string(status) + ".");
    percent = 100;
    return std::move(t.bytes);
}

#else

std::string fetchImage(const ImageSource& source, const FetchLimits&, const std::string&,
                       const std::string&, const std::atomic<bool>&, std::atomic<int>&) {
    throw errors::couldNotEstablishConnection(source.uri)
        .withDetail("This build of the service has no HTTP client.");
}

#endif

} // namespace tolvane::plugin
