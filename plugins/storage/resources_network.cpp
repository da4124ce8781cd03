// The manager's view of the host's network: its interfaces as the operating
// system reports them and the protocols the service listens with. Both are
// read-only; the service changes no network setting.
#include <cctype>

#include "hostnetwork.h"
#include "messages.h"
#include "payloads.h"
#include "persistence.h"
#include "service.h"

namespace tolvane::plugin {

namespace {

const std::string kManager = std::string(kRoot) + "/Managers/" + kManagerId;
const std::string kInterfaces = kManager + "/EthernetInterfaces";

// The listening protocols as the server was configured at its start (it
// reads the file once too).
struct Listening {
    bool https = false, http = false;
    int httpsPort = 0, httpPort = 0;
    bool standard = false; // the server serves its certificate resources
};

Listening readListening(const std::filesystem::path& configFile) {
    Listening l;
    const LoadedJson loaded = loadJsonFile(configFile);
    if (loaded.status != LoadedJson::Status::Loaded || !loaded.value.is_object())
        return l;
    const Json& c = loaded.value;
    auto flag = [&c](const char* key) {
        auto it = c.find(key);
        return it != c.end() && it->is_boolean() && it->get<bool>();
    };
    auto port = [&c](const char* key) {
        auto it = c.find(key);
        return it != c.end() && it->is_number_integer() ? it->get<int>() : 0;
    };
    l.https = flag("CommunicationProtocolHttps");
    l.http = flag("CommunicationProtocolHttp");
    l.httpsPort = port("CommunicationPortHttps");
    l.httpPort = port("CommunicationPortHttp");
    auto profile = c.find("RedfishProtocolProfile");
    if (profile != c.end() && profile->is_string()) {
        std::string name = profile->get<std::string>();
        for (char& ch : name)
            ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        l.standard = name == "standard";
    }
    return l;
}

// The port as configured, also while the protocol is off.
Json protocol(bool enabled, int port) {
    Json j = {{"ProtocolEnabled", enabled}};
    if (port > 0)
        j["Port"] = port;
    return j;
}

Json interfacePayload(const HostInterface& host) {
    Json j = resource(kInterfaces + "/" + host.name, "#EthernetInterface.v1_12_4.EthernetInterface",
                      host.name, host.name);
    if (!host.macAddress.empty()) {
        j["MACAddress"] = host.macAddress;
        j["PermanentMACAddress"] = host.macAddress;
    }
    if (host.speedMbps > 0)
        j["SpeedMbps"] = host.speedMbps;
    j["InterfaceEnabled"] = host.up;
    j["LinkStatus"] = host.linkUp ? "LinkUp" : "LinkDown";
    j["Status"] = status(host.up ? "Enabled" : "Disabled", "OK");
    j["HostName"] = hostName();
    const std::string fqdn = hostDomainName();
    if (!fqdn.empty())
        j["FQDN"] = fqdn;
    j["NameServers"] = hostNameServers();
    Json v4 = Json::array();
    for (const Ipv4Address& a : host.ipv4) {
        Json entry = {
            {"Address", a.address}, {"SubnetMask", a.subnetMask}, {"AddressOrigin", a.origin}};
        if (!a.gateway.empty())
            entry["Gateway"] = a.gateway;
        v4.push_back(entry);
    }
    j["IPv4Addresses"] = v4;
    Json v6 = Json::array();
    for (const Ipv6Address& a : host.ipv6)
        v6.push_back({{"Address", a.address},
                      {"PrefixLength", a.prefixLength},
                      {"AddressOrigin", a.origin},
                      {"AddressState", a.state}});
    j["IPv6Addresses"] = v6;
    return j;
}

} // namespace

void addNetworkResources(Router& router, PluginService& service) {
    router.add("GET", "Managers/{manager}/EthernetInterfaces", [](const Request& r) {
        requireId(r.param("manager"), kManagerId, "Manager");
        std::vector<std::string> members;
        for (const HostInterface& host : hostInterfaces())
            members.push_back(kInterfaces + "/" + host.name);
        return Reply::ok(collection(kInterfaces,
                                    "#EthernetInterfaceCollection.EthernetInterfaceCollection",
                                    "Ethernet Network Interface Collection", members));
    });
    router.add("GET", "Managers/{manager}/EthernetInterfaces/{interface}", [](const Request& r) {
        requireId(r.param("manager"), kManagerId, "Manager");
        for (const HostInterface& host : hostInterfaces()) {
            if (host.name == r.param("interface"))
                return Reply::ok(interfacePayload(host));
        }
        throw errors::resourceNotFound("EthernetInterface", r.param("interface"));
    });

    const Listening listening = readListening(service.paths().configFile);
    router.add("GET", "Managers/{manager}/NetworkProtocol", [listening](const Request& r) {
        requireId(r.param("manager"), kManagerId, "Manager");
        Json j = resource(kManager + "/NetworkProtocol",
                          "#ManagerNetworkProtocol.v1_12_0.ManagerNetworkProtocol",
                          "NetworkProtocol", "Manager Network Protocol");
        j["HostName"] = hostName();
        const std::string fqdn = hostDomainName();
        if (!fqdn.empty())
            j["FQDN"] = fqdn;
        j["HTTPS"] = protocol(listening.https, listening.httpsPort);
        if (listening.standard)
            j["HTTPS"]["Certificates"] = {
                {"@odata.id", kManager + "/NetworkProtocol/HTTPS/Certificates"}};
        j["HTTP"] = protocol(listening.http, listening.httpPort);
        j["Status"] = status("Enabled", "OK");
        return Reply::ok(j);
    });
}

} // namespace tolvane::plugin
