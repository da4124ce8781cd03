#include "protocol/serviceroot.h"

#include <openssl/rand.h>

#include <cctype>
#include <fstream>

#include "jsonadapter.h"
#include "protocol/owndocument.h"
#include "redfishserver/installpaths.h"
#include "redfishserver/keptfile.h"

namespace {

bool isUuidText(const std::string& text) {
    if (text.size() != 36)
        return false;
    for (size_t i = 0; i < text.size(); ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? text[i] != '-' : !std::isxdigit(static_cast<unsigned char>(text[i])))
            return false;
    }
    return true;
}

// A random (version 4) UUID; "" when no random bytes are to be had.
std::string randomUuid() {
    unsigned char bytes[16];
    if (RAND_bytes(bytes, sizeof bytes) != 1)
        return "";
    bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0f) | 0x40);
    bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3f) | 0x80);
    static const char kHex[] = "0123456789abcdef";
    std::string text;
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            text += '-';
        text += kHex[bytes[i] >> 4];
        text += kHex[bytes[i] & 0x0f];
    }
    return text;
}

} // namespace

std::string keptServiceUuid(const std::string& path) {
    {
        std::ifstream in(path);
        std::string text;
        if (in && std::getline(in, text) && isUuidText(text))
            return text;
    }
    const std::string uuid = randomUuid();
    if (uuid.empty())
        return "";
    return replaceKeptFile(path, uuid + "\n") ? uuid : "";
}

std::string serviceUuidPath() {
    return serverDirectory() + "ServiceUUID";
}

void buildStandardServiceRoot(std::string& out, const std::vector<RootCollection>& served) {
    json::Value doc = json::Value::object();
    doc["@odata.id"] = "/redfish/v1";
    doc["@odata.type"] = "#ServiceRoot.v1_20_0.ServiceRoot";
    doc["Id"] = "RootService";
    doc["Name"] = "Root Service";
    doc["RedfishVersion"] = "1.20.0";
    doc["Vendor"] = "Tolvane";
    doc["Product"] = "Tolvane Redfish Server";
    const std::string uuid = keptServiceUuid(serviceUuidPath());
    if (!uuid.empty())
        doc["UUID"] = uuid;
    // What the server does with a query: any $expand asks the plug-in for the
    // members one level down. $top and $skip page what the plug-in lists, but
    // not the session list the server keeps, so they are not claimed for
    // every collection. Requests on several connections are served at once.
    json::Value features = json::Value::object();
    features["ExpandQuery"]["ExpandAll"] = true;
    features["ExpandQuery"]["Levels"] = false;
    features["ExpandQuery"]["Links"] = false;
    features["ExpandQuery"]["NoLinks"] = false;
    features["FilterQuery"] = false;
    features["SelectQuery"] = false;
    features["OnlyMemberQuery"] = false;
    features["ExcerptQuery"] = false;
    features["TopSkipQuery"] = false;
    features["MultipleHTTPRequests"] = true;
    doc["ProtocolFeaturesSupported"] = features;
    for (const RootCollection& collection : kRootCollections)
        doc[collection.name] = resourceLink(collection.uri);
    for (const RootCollection& service : served)
        doc[service.name] = resourceLink(service.uri);
    for (const RootCollection& service : kStandardRootServices)
        doc[service.name] = resourceLink(service.uri);
    doc["Links"]["Sessions"] = resourceLink("/redfish/v1/SessionService/Sessions");
    wrapInReply(doc, out);
}
