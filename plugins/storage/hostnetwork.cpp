#include "hostnetwork.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

namespace tolvane::plugin {

namespace {

const std::filesystem::path kNetClass = "/sys/class/net";

std::string firstLine(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

bool safeSegment(const std::string& name) {
    if (name.empty() || name.size() > IFNAMSIZ)
        return false;
    for (char c : name) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.';
        if (!ok)
            return false;
    }
    return true;
}

bool isMacText(const std::string& text) {
    if (text.size() != 17)
        return false;
    for (size_t i = 0; i < text.size(); ++i) {
        if (i % 3 == 2 ? text[i] != ':' : !std::isxdigit(static_cast<unsigned char>(text[i])))
            return false;
    }
    return true;
}

std::string ipv4Text(const sockaddr* address) {
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text, sizeof text);
    return text;
}

// The default gateway of each interface, from the kernel's routing table
// (hexadecimal, in network byte order).
std::string defaultGateway(const std::string& name) {
    std::ifstream in("/proc/net/route");
    std::string line;
    std::getline(in, line); // the heading
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string iface, destination, gateway;
        if (!(fields >> iface >> destination >> gateway) || iface != name ||
            destination != "00000000")
            continue;
        in_addr address{};
        address.s_addr = static_cast<in_addr_t>(std::stoul(gateway, nullptr, 16));
        char text[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &address, text, sizeof text);
        return text;
    }
    return "";
}

// Whether a DHCP client's lease names `address`: systemd-networkd's or
// dhclient's lease files.
bool leasedByDhcp(const std::string& address) {
    const char* const kLeaseDirs[] = {"/run/systemd/netif/leases", "/var/lib/dhcp"};
    std::error_code ec;
    for (const char* dir : kLeaseDirs) {
        for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
            std::ifstream in(entry.path());
            std::string line;
            while (std::getline(in, line)) {
                if (line.find("ADDRESS=" + address) == 0 ||
                    line.find("fixed-address " + address + ";") != std::string::npos)
                    return true;
            }
        }
    }
    return false;
}

std::string ipv4Origin(const std::string& address) {
    if (address.rfind("169.254.", 0) == 0)
        return "IPv4LinkLocal";
    return leasedByDhcp(address) ? "DHCP" : "Static";
}

// /proc/net/if_inet6: address, index, prefix length, scope, flags, name.
void addIpv6Addresses(std::vector<HostInterface>& interfaces) {
    std::ifstream in("/proc/net/if_inet6");
    std::string hex, index, name;
    unsigned prefix = 0, scope = 0, flags = 0;
    while (in >> hex >> index >> std::hex >> prefix >> scope >> flags >> std::dec >> name) {
        if (hex.size() != 32)
            continue;
        in6_addr address{};
        for (size_t i = 0; i < 16; ++i)
            address.s6_addr[i] =
                static_cast<uint8_t>(std::stoul(hex.substr(2 * i, 2), nullptr, 16));
        char text[INET6_ADDRSTRLEN] = {};
        inet_ntop(AF_INET6, &address, text, sizeof text);
        for (HostInterface& host : interfaces) {
            if (host.name != name)
                continue;
            Ipv6Address entry;
            entry.address = text;
            entry.prefixLength = static_cast<int>(prefix);
            entry.origin = scope == 0x20 ? "LinkLocal" : (flags & 0x80) ? "Static" : "SLAAC";
            entry.state = (flags & 0x40)   ? "Tentative"
                          : (flags & 0x20) ? "Deprecated"
                                           : "Preferred";
            host.ipv6.push_back(entry);
        }
    }
}

} // namespace

std::vector<HostInterface> hostInterfaces() {
    std::vector<HostInterface> interfaces;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(kNetClass, ec)) {
        HostInterface host;
        host.name = entry.path().filename().string();
        unsigned long flags = 0;
        try {
            flags = std::stoul(firstLine(entry.path() / "flags"), nullptr, 16);
        } catch (const std::exception&) {
            continue;
        }
        if (!safeSegment(host.name) || (flags & IFF_LOOPBACK))
            continue;
        host.up = flags & IFF_UP;
        host.linkUp = firstLine(entry.path() / "operstate") == "up" ||
                      (host.up && firstLine(entry.path() / "carrier") == "1");
        const std::string mac = firstLine(entry.path() / "address");
        if (isMacText(mac))
            host.macAddress = mac;
        try {
            const int speed = std::stoi(firstLine(entry.path() / "speed"));
            host.speedMbps = speed > 0 ? speed : -1;
        } catch (const std::exception&) {
        }
        interfaces.push_back(host);
    }
    std::sort(interfaces.begin(), interfaces.end(),
              [](const HostInterface& a, const HostInterface& b) { return a.name < b.name; });

    ifaddrs* list = nullptr;
    if (getifaddrs(&list) == 0) {
        std::unique_ptr<ifaddrs, void (*)(ifaddrs*)> owned(list, freeifaddrs);
        for (const ifaddrs* a = list; a; a = a->ifa_next) {
            if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET || !a->ifa_name)
                continue;
            for (HostInterface& host : interfaces) {
                if (host.name != a->ifa_name)
                    continue;
                Ipv4Address entry;
                entry.address = ipv4Text(a->ifa_addr);
                entry.subnetMask = a->ifa_netmask ? ipv4Text(a->ifa_netmask) : "";
                entry.gateway = defaultGateway(host.name);
                entry.origin = ipv4Origin(entry.address);
                host.ipv4.push_back(entry);
            }
        }
    }
    addIpv6Addresses(interfaces);
    return interfaces;
}

std::string hostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0)
        return "";
    return name;
}

std::string hostDomainName() {
    const std::string host = hostName();
    if (host.empty() || host.find('.') != std::string::npos)
        return host;
    std::ifstream in("/etc/resolv.conf");
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string key, domain;
        if (fields >> key >> domain && (key == "domain" || key == "search") && domain != ".")
            return host + "." + domain;
    }
    // A host in no domain: its name is all there is to qualify.
    return host;
}

std::vector<std::string> hostNameServers() {
    std::vector<std::string> servers;
    std::ifstream in("/etc/resolv.conf");
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string key, address;
        if (fields >> key >> address && key == "nameserver")
            servers.push_back(address);
    }
    return servers;
}

} // namespace tolvane::plugin
