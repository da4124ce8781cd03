// Windows builds have no HTTP client for images: SimpleUpdate tasks end with
// that reason.
#include "imagefetch.h"

#include "messages.h"

namespace tolvane::plugin {

bool fetchAddressAllowed(const struct sockaddr*, bool) {
    return false;
}

bool fetchHostAllowed(const std::string&, bool) {
    return true; // nothing is fetched, from anywhere
}

std::string fetchImage(const ImageSource& source, const FetchLimits&, const std::string&,
                       const std::string&, const std::atomic<bool>&, std::atomic<int>&) {
    throw errors::couldNotEstablishConnection(source.uri)
        .withDetail("This build of the service has no HTTP client.");
}

} // namespace tolvane::plugin
