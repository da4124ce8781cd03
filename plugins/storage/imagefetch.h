// Fetches an update image from the URI a SimpleUpdate names, over HTTP or
// HTTPS only, with a size cap, a time limit and no proxy. Loopback and
// link-local addresses are refused where the connection is opened, after
// name resolution and on every redirect, unless the settings allow them.
#ifndef TOLVANE_PLUGIN_IMAGEFETCH_H
#define TOLVANE_PLUGIN_IMAGEFETCH_H

#include <atomic>
#include <cstddef>
#include <string>

struct sockaddr;

namespace tolvane::plugin {

struct ImageSource {
    std::string uri; // with its scheme, "http://" or "https://"
    std::string userName;
    std::string password;
};

struct FetchLimits {
    size_t maxBytes = 0;
    long timeoutSeconds = 300;
    bool localSources = false; // loopback and link-local addresses allowed
};

// Whether an image may be fetched from `address` (IPv4 or IPv6, mapped IPv4
// included): never from an unspecified or multicast address, from loopback
// and link-local ones only when `localSources`.
bool fetchAddressAllowed(const struct sockaddr* address, bool localSources);

// The same for an address literal ("127.0.0.1", "[::1]"); true for a name.
bool fetchHostAllowed(const std::string& host, bool localSources);

// The image's bytes. Reports its progress (0 to 100) when the size is known
// and gives up once `stop` is set. Throws RedfishError (400) naming what
// failed: CouldNotEstablishConnection, ResourceMissingAtURI,
// ResourceAtUriUnauthorized, OperationTimeout, or a bad value of `parameter`
// of `action` when the image is too large; 503 when stopped.
std::string fetchImage(const ImageSource& source, const FetchLimits& limits,
                       const std::string& action, const std::string& parameter,
                       const std::atomic<bool>& stop, std::atomic<int>& percent);

} // namespace tolvane::plugin

#endif
