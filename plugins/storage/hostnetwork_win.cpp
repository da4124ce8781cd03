// Windows: the host's network is not read; the manager lists no interfaces.
#include "hostnetwork.h"

namespace tolvane::plugin {

std::vector<HostInterface> hostInterfaces() {
    return {};
}
std::string hostName() {
    return "";
}
std::string hostDomainName() {
    return "";
}
std::vector<std::string> hostNameServers() {
    return {};
}

} // namespace tolvane::plugin
