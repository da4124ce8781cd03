// The host's network as the operating system reports it, read on every ask:
// the manager shows it and changes nothing.
#ifndef TOLVANE_PLUGIN_HOSTNETWORK_H
#define TOLVANE_PLUGIN_HOSTNETWORK_H

#include <string>
#include <vector>

namespace tolvane::plugin {

struct Ipv4Address {
    std::string address;
    std::string subnetMask;
    std::string gateway; // "" when the interface has no default route
    std::string origin;  // "DHCP", "IPv4LinkLocal" or "Static"
};

struct Ipv6Address {
    std::string address;
    int prefixLength = 0;
    std::string origin; // "LinkLocal", "Static" or "SLAAC"
    std::string state;  // "Preferred", "Deprecated" or "Tentative"
};

struct HostInterface {
    std::string name; // also the resource's Id
    std::string macAddress;
    bool up = false;     // administratively enabled
    bool linkUp = false; // carrier present
    int speedMbps = -1;  // -1 unknown
    std::vector<Ipv4Address> ipv4;
    std::vector<Ipv6Address> ipv6;
};

// Every interface but loopback, by name; only names that are safe as a URI
// segment.
std::vector<HostInterface> hostInterfaces();
std::string hostName();
// The host's name with its resolver's domain; the bare name in none.
std::string hostDomainName();
std::vector<std::string> hostNameServers();

} // namespace tolvane::plugin

#endif
