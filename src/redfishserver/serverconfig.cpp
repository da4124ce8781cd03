#include "redfishserver/serverconfig.h"

#include <cstdio>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "jsonadapter.h"
#include "protocol/protocolprofile.h"
#include "redfishserver/installpaths.h"

ServerConfiguration ServerConfig;

namespace {

using C = ServerConfiguration;

// Every configuration key: its field, how the file's value is read, the
// built-in value that a 0 (or a negative number) stands for, and the engine
// option it sets. A new key is a field of the record and a row here.
struct ConfigKey {
    const char* name;
    int32_t C::*integer = nullptr;
    bool C::*boolean = nullptr;
    std::string C::*text = nullptr;
    int32_t builtIn = 0; // 0: the value is used as read
    const char* engineOption = nullptr;
};

constexpr ConfigKey integerKey(const char* name, int32_t C::*field, int32_t builtIn = 0,
                               const char* engineOption = nullptr) {
    return ConfigKey{name, field, nullptr, nullptr, builtIn, engineOption};
}
constexpr ConfigKey booleanKey(const char* name, bool C::*field) {
    return ConfigKey{name, nullptr, field, nullptr, 0, nullptr};
}
constexpr ConfigKey textKey(const char* name, std::string C::*field) {
    return ConfigKey{name, nullptr, nullptr, field, 0, nullptr};
}

// In the order of the record's fields.
const ConfigKey kConfigKeys[] = {
    booleanKey("CommunicationProtocolHttps", &C::CommunicationProtocolHttps),
    booleanKey("CommunicationProtocolHttp", &C::CommunicationProtocolHttp),
    integerKey("CommunicationPortHttps", &C::CommunicationPortHttps),
    integerKey("CommunicationPortHttp", &C::CommunicationPortHttp),
    booleanKey("SkipAuthentication", &C::SkipAuthentication),
    integerKey("OsEventLoggingLevel", &C::OsEventLoggingLevel),
    integerKey("SessionTimeout", &C::SessionTimeout),
    integerKey("MaximumNumberOfConcurrentSessions", &C::MaximumNumberOfConcurrentSessions),
    integerKey("MaximumNumberOfEventSubscriptions", &C::MaximumNumberOfEventSubscriptions),
    integerKey("MaximumEventDeliveryRetry", &C::MaximumEventDeliveryRetry),
    integerKey("WatchdogTimeout", &C::WatchdogTimeout),
    booleanKey("SsdpAdvertisement", &C::SsdpAdvertisement),
    booleanKey("SystemAlarmEnabled", &C::SystemAlarmEnabled),
    textKey("CommunicationHostAddressHttps", &C::CommunicationHostAddressHttps),
    textKey("CommunicationHostAddressHttp", &C::CommunicationHostAddressHttp),
    booleanKey("CurlEventDelivery", &C::CurlEventDelivery),
    integerKey("RedfishDebugMask", &C::RedfishDebugMask),
    integerKey("rollingSize", &C::rollingSize),
    integerKey("rollingCount", &C::rollingCount),
    integerKey("MaximumRequestBodySize", &C::MaximumRequestBodySize, 1024 * 1024),
    integerKey("MaximumUploadSize", &C::MaximumUploadSize, 64 * 1024 * 1024),
    // A client's share: enough for a browser or a pool of clients, far below
    // the worker count, so one address cannot hold every worker.
    integerKey("NumberOfWorkerThreads", &C::NumberOfWorkerThreads, 50, "num_threads"),
    integerKey("MaximumConnectionsPerClient", &C::MaximumConnectionsPerClient, 16,
               "max_connections_per_client"),
    // Connections that have not authenticated get a small share of the
    // workers and a short deadline: a handshake and a head take a real client
    // well under a second. A login's body is a few hundred bytes.
    integerKey("RequestHeadTimeout", &C::RequestHeadTimeout, 5000, "request_head_timeout_ms"),
    integerKey("MaximumUnauthenticatedConnections", &C::MaximumUnauthenticatedConnections, 16,
               "max_unauthenticated_connections"),
    integerKey("MaximumUnauthenticatedBodySize", &C::MaximumUnauthenticatedBodySize, 4096,
               "max_unauthenticated_body_bytes"),
    integerKey("MaximumSessionsPerAccount", &C::MaximumSessionsPerAccount, 8),
    textKey("RedfishProtocolProfile", &C::RedfishProtocolProfile),
};

// The row of an integer field.
const ConfigKey& keyOf(int32_t C::*field) {
    for (const ConfigKey& key : kConfigKeys) {
        if (key.integer == field)
            return key;
    }
    static const ConfigKey none{""};
    return none;
}

// A configured value when positive, else the key's built-in one.
int32_t effective(const ConfigKey& key) {
    const int32_t configured = ServerConfig.*key.integer;
    return configured > 0 || key.builtIn == 0 ? configured : key.builtIn;
}

int32_t effective(int32_t C::*field) {
    return effective(keyOf(field));
}

class ConfigReader {
  public:
    ConfigReader(const json::Value& root, const json::NumberLiterals& literals)
        : root_(root), literals_(literals) {}

    void read(const ConfigKey& key, ServerConfiguration& cfg) const {
        const json::Value* v = member(key.name);
        if (!v)
            return;
        if (key.text) {
            // A string's characters, a number's or boolean's literal text;
            // null, arrays and objects give "".
            if (v->is_null() || v->is_array() || v->is_object())
                cfg.*key.text = std::string();
            else if (const std::string* text = literal(key.name))
                cfg.*key.text = *text;
            else
                cfg.*key.text = json::asText(*v);
            return;
        }
        // Integers and booleans (true when not 0): arrays, objects and values
        // outside 32 bits keep the field.
        if (auto x = json::asConfigInteger(*v, literal(key.name))) {
            if (key.boolean)
                cfg.*key.boolean = *x != 0;
            else
                cfg.*key.integer = *x;
        }
    }

  private:
    const json::Value* member(const char* name) const {
        auto it = root_.find(name);
        return it == root_.end() ? nullptr : &*it;
    }
    const std::string* literal(const char* name) const {
        auto it = literals_.find(name);
        return it == literals_.end() ? nullptr : &it->second;
    }

    const json::Value& root_;
    const json::NumberLiterals& literals_;
};

} // namespace

bool applyServerConfiguration(std::string_view text, ServerConfiguration& cfg) {
    try {
        json::Value root;
        json::NumberLiterals literals;
        if (!json::parseObject(text, root, &literals))
            return false;
        ConfigReader reader(root, literals);
        ServerConfiguration next = cfg;
        for (const ConfigKey& key : kConfigKeys)
            reader.read(key, next);
        cfg = std::move(next);
        return true;
    } catch (const std::exception&) {
        // Memory exhausted while parsing: treated like an unreadable text.
        return false;
    }
}

bool readServerConfiguration() {
    std::string path = serverDirectory() + "ServerConfiguration.json";
    std::FILE* file = std::fopen(path.c_str(), "r");
    if (!file) {
        WriteOutLog("failed to open the config file ..............\n");
        return true;
    }
    // The whole file up to the cap: a file that outgrew a small read must not
    // silently fall back to no settings at all.
    std::string text;
    try {
        text.resize(kMaxConfigFileSize);
    } catch (const std::bad_alloc&) {
        std::fclose(file);
        WriteOutLog("failed to parse the config file ..............\n");
        return false;
    }
    size_t length = std::fread(&text[0], 1, text.size(), file);
    std::fclose(file);
    if (length == 0) {
        // A file truncated to nothing is no configuration to serve by.
        WriteOutLog("failed to parse the config file ..............\n");
        return false;
    }
    text.resize(length);
    // The text ends at a zero byte, as it always has.
    size_t zero = text.find('\0');
    if (zero != std::string::npos)
        text.resize(zero);
    if (!applyServerConfiguration(text, ServerConfig)) {
        WriteOutLog("failed to parse the config file ..............\n");
        return false;
    }
    if (!isKnownProfileName(ServerConfig.RedfishProtocolProfile))
        WriteOutLog("Unknown RedfishProtocolProfile; serving the Classic profile\n");
    return true;
}

std::vector<std::pair<std::string, std::string>> configuredEngineOptions() {
    std::vector<std::pair<std::string, std::string>> options;
    for (const ConfigKey& key : kConfigKeys) {
        if (key.engineOption)
            options.emplace_back(key.engineOption, std::to_string(effective(key)));
    }
    return options;
}

size_t maximumRequestBodySize() {
    return static_cast<size_t>(effective(&C::MaximumRequestBodySize));
}

size_t maximumUploadSize() {
    return static_cast<size_t>(effective(&C::MaximumUploadSize));
}

int workerThreadCount() {
    return effective(&C::NumberOfWorkerThreads);
}

int connectionsPerClient() {
    return effective(&C::MaximumConnectionsPerClient);
}

int requestHeadTimeoutMs() {
    return effective(&C::RequestHeadTimeout);
}

int unauthenticatedConnections() {
    return effective(&C::MaximumUnauthenticatedConnections);
}

int unauthenticatedBodySize() {
    return effective(&C::MaximumUnauthenticatedBodySize);
}

int sessionsPerAccount() {
    return effective(&C::MaximumSessionsPerAccount);
}
