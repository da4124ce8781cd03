#include "redfishserver/serverconfig.h"

#include <cstdio>
#include <new>
#include <string>

#include "jsonadapter.h"
#include "protocol/protocolprofile.h"
#include "redfishserver/installpaths.h"

ServerConfiguration ServerConfig;

namespace {

constexpr size_t kDefaultMaximumRequestBodySize = 1024 * 1024;
constexpr size_t kDefaultMaximumUploadSize = 64 * 1024 * 1024;
// A client's share: enough for a browser or a pool of clients, far below
// the worker count, so one address cannot hold every worker.
constexpr size_t kDefaultWorkerThreads = 50;
constexpr size_t kDefaultConnectionsPerClient = 16;
// Connections that have not authenticated get a small share of the workers
// and a short deadline: a handshake and a head take a real client well under
// a second. A login's body is a few hundred bytes.
constexpr size_t kDefaultRequestHeadTimeoutMs = 5000;
constexpr size_t kDefaultUnauthenticatedConnections = 16;
constexpr size_t kDefaultUnauthenticatedBodySize = 4096;
constexpr size_t kDefaultSessionsPerAccount = 8;

// One configuration key and the field it fills.
struct IntegerKey {
    const char* name;
    int32_t ServerConfiguration::*field;
};
struct BoolKey {
    const char* name;
    bool ServerConfiguration::*field;
};
struct TextKey {
    const char* name;
    std::string ServerConfiguration::*field;
};

class ConfigReader {
  public:
    ConfigReader(const json::Value& root, const json::NumberLiterals& literals)
        : root_(root), literals_(literals) {}

    // Integer keys: arrays, objects and values outside 32 bits keep the field.
    void read(const IntegerKey& key, ServerConfiguration& cfg) const {
        if (const json::Value* v = member(key.name)) {
            if (auto x = json::asConfigInteger(*v, literal(key.name)))
                cfg.*key.field = *x;
        }
    }

    // Boolean keys: the integer conversion, true when not 0.
    void read(const BoolKey& key, ServerConfiguration& cfg) const {
        if (const json::Value* v = member(key.name)) {
            if (auto x = json::asConfigInteger(*v, literal(key.name)))
                cfg.*key.field = *x != 0;
        }
    }

    // Address keys: a string's characters, a number's or boolean's literal
    // text; null, arrays and objects give "".
    void read(const TextKey& key, ServerConfiguration& cfg) const {
        const json::Value* v = member(key.name);
        if (!v)
            return;
        if (v->is_null() || v->is_array() || v->is_object())
            cfg.*key.field = std::string();
        else if (const std::string* text = literal(key.name))
            cfg.*key.field = *text;
        else
            cfg.*key.field = json::asText(*v);
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
        using C = ServerConfiguration;
        // In the order of the record's fields.
        reader.read(BoolKey{"CommunicationProtocolHttps", &C::CommunicationProtocolHttps}, next);
        reader.read(BoolKey{"CommunicationProtocolHttp", &C::CommunicationProtocolHttp}, next);
        reader.read(IntegerKey{"CommunicationPortHttps", &C::CommunicationPortHttps}, next);
        reader.read(IntegerKey{"CommunicationPortHttp", &C::CommunicationPortHttp}, next);
        reader.read(BoolKey{"SkipAuthentication", &C::SkipAuthentication}, next);
        reader.read(IntegerKey{"OsEventLoggingLevel", &C::OsEventLoggingLevel}, next);
        reader.read(IntegerKey{"SessionTimeout", &C::SessionTimeout}, next);
        reader.read(
            IntegerKey{"MaximumNumberOfConcurrentSessions", &C::MaximumNumberOfConcurrentSessions},
            next);
        reader.read(
            IntegerKey{"MaximumNumberOfEventSubscriptions", &C::MaximumNumberOfEventSubscriptions},
            next);
        reader.read(IntegerKey{"MaximumEventDeliveryRetry", &C::MaximumEventDeliveryRetry}, next);
        reader.read(IntegerKey{"WatchdogTimeout", &C::WatchdogTimeout}, next);
        reader.read(BoolKey{"SsdpAdvertisement", &C::SsdpAdvertisement}, next);
        reader.read(BoolKey{"SystemAlarmEnabled", &C::SystemAlarmEnabled}, next);
        reader.read(TextKey{"CommunicationHostAddressHttps", &C::CommunicationHostAddressHttps},
                    next);
        reader.read(TextKey{"CommunicationHostAddressHttp", &C::CommunicationHostAddressHttp},
                    next);
        reader.read(BoolKey{"CurlEventDelivery", &C::CurlEventDelivery}, next);
        reader.read(IntegerKey{"RedfishDebugMask", &C::RedfishDebugMask}, next);
        reader.read(IntegerKey{"rollingSize", &C::rollingSize}, next);
        reader.read(IntegerKey{"rollingCount", &C::rollingCount}, next);
        reader.read(IntegerKey{"MaximumRequestBodySize", &C::MaximumRequestBodySize}, next);
        reader.read(IntegerKey{"MaximumUploadSize", &C::MaximumUploadSize}, next);
        reader.read(IntegerKey{"NumberOfWorkerThreads", &C::NumberOfWorkerThreads}, next);
        reader.read(IntegerKey{"MaximumConnectionsPerClient", &C::MaximumConnectionsPerClient},
                    next);
        reader.read(IntegerKey{"RequestHeadTimeout", &C::RequestHeadTimeout}, next);
        reader.read(
            IntegerKey{"MaximumUnauthenticatedConnections", &C::MaximumUnauthenticatedConnections},
            next);
        reader.read(
            IntegerKey{"MaximumUnauthenticatedBodySize", &C::MaximumUnauthenticatedBodySize}, next);
        reader.read(IntegerKey{"MaximumSessionsPerAccount", &C::MaximumSessionsPerAccount}, next);
        reader.read(TextKey{"RedfishProtocolProfile", &C::RedfishProtocolProfile}, next);
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

namespace {
// A configured cap when positive, else the built-in one.
size_t capOrDefault(int32_t configured, size_t builtIn) {
    return configured > 0 ? static_cast<size_t>(configured) : builtIn;
}
} // namespace

size_t maximumRequestBodySize() {
    return capOrDefault(ServerConfig.MaximumRequestBodySize, kDefaultMaximumRequestBodySize);
}

size_t maximumUploadSize() {
    return capOrDefault(ServerConfig.MaximumUploadSize, kDefaultMaximumUploadSize);
}

int workerThreadCount() {
    return static_cast<int>(
        capOrDefault(ServerConfig.NumberOfWorkerThreads, kDefaultWorkerThreads));
}

int connectionsPerClient() {
    return static_cast<int>(
        capOrDefault(ServerConfig.MaximumConnectionsPerClient, kDefaultConnectionsPerClient));
}

int requestHeadTimeoutMs() {
    return static_cast<int>(
        capOrDefault(ServerConfig.RequestHeadTimeout, kDefaultRequestHeadTimeoutMs));
}

int unauthenticatedConnections() {
    return static_cast<int>(capOrDefault(ServerConfig.MaximumUnauthenticatedConnections,
                                         kDefaultUnauthenticatedConnections));
}

int unauthenticatedBodySize() {
    return static_cast<int>(
        capOrDefault(ServerConfig.MaximumUnauthenticatedBodySize, kDefaultUnauthenticatedBodySize));
}

int sessionsPerAccount() {
    return static_cast<int>(
        capOrDefault(ServerConfig.MaximumSessionsPerAccount, kDefaultSessionsPerAccount));
}
