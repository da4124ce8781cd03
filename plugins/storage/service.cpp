#include "service.h"

#include <ctime>
#include <stdexcept>

#include "crypto.h"
#include "messages.h"
#include "persistence.h"

namespace tolvane::plugin {

namespace fs = std::filesystem;

std::string systemUri() {
    return std::string(kRoot) + "/Systems/" + kSystemId;
}
std::string storageUri(const std::string& storageId) {
    return systemUri() + "/Storage/" + storageId;
}
std::string driveCollectionUri() {
    return std::string(kRoot) + "/Chassis/" + kChassisId + "/Drives";
}
std::string driveUri(const std::string& driveId) {
    return driveCollectionUri() + "/" + driveId;
}
std::string volumeUri(const std::string& storageId, const std::string& volumeId) {
    return storageUri(storageId) + "/Volumes/" + volumeId;
}
std::string oemActionUri(const std::string& storageId, const std::string& action) {
    return storageUri(storageId) + "/Actions/Oem/" + action;
}

std::string utcTimeText(int64_t seconds) {
    std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char text[32];
    std::strftime(text, sizeof(text), "%Y-%m-%dT%H:%M:%SZ", &tm);
    return text;
}

PluginService::PluginService(PluginPaths paths, PluginLog log, Clock clock,
                             EventDelivery::Policy delivery)
    : paths_(std::move(paths)), log_(log), clock_(std::move(clock)),
      storage_(StorageModel::makeDefault()), delivery_(log, delivery), tasks_(*this) {
    router_.guardWith(modelLock_);
    addServiceResources(router_, *this);
    addStorageResources(router_, *this);
    addAccountResources(router_, *this);
    addOemActions(router_, *this);
    addEventResources(router_, *this);
    addTaskResources(router_, *this);
    addUpdateResources(router_, *this);
    addHostActions(router_, *this);
    addNetworkResources(router_, *this);
    addLogResources(router_, *this);
}

int64_t PluginService::now() const {
    return clock_ ? clock_() : static_cast<int64_t>(std::time(nullptr));
}

Reply PluginService::dispatch(const std::string& method, const std::string& uri,
                              const std::string& body, const Caller& caller) const {
    std::optional<Reply> refused = tasks_.refuseWhileBusy(method, uri);
    Reply reply = refused ? std::move(*refused) : router_.dispatch(method, uri, body, caller);
    if (method == "GET")
        tasks_.showOperations(reply);
    if (reply.status >= 500)
        log_.error("PluginService::dispatch",
                   method + " " + uri + " answered " + std::to_string(reply.status) +
                       (reply.problem.empty() ? "" : ": " + reply.problem));
    return reply;
}

Controller& PluginService::controller(const std::string& systemId, const std::string& storageId) {
    if (systemId != kSystemId)
        throw errors::resourceNotFound("ComputerSystem", systemId);
    Controller* c = storage_.controller(storageId);
    if (!c)
        throw errors::resourceNotFound("Storage", storageId);
    return *c;
}

void PluginService::saveStorage() {
    Json state = storage_.toJson();
    state["Format"] = "Tolvane-Plugin-State";
    saveJsonFile(paths_.stateFile, state);
}

void PluginService::saveAccounts() {
    saveJsonFile(paths_.accountsFile, accounts_.toJson());
}

void PluginService::raiseStorageEvents(const StorageModel& before) noexcept {
    try {
        if (subscriptions_.all().empty())
            return;
        const std::vector<EventRecord> records = storageEvents(before, storage_);
        if (records.empty())
            return;
        const std::string id = std::to_string(nextEventId_++);
        const std::string when = utcTimeText(now());
        for (const auto& s : subscriptions_.all()) {
            const std::vector<EventRecord> wanted = wantedBy(s, records);
            if (!wanted.empty())
                send(s, id, eventPayload(wanted, id, s.context, when));
        }
    } catch (const std::exception& e) {
        log_.error("raiseStorageEvents", e.what());
    } catch (...) {
    }
}

void PluginService::send(const Subscription& s, const std::string& eventId, const Json& event) {
    if (!delivery_.enqueue(s.destination, event.dump(), s.verifyCertificate))
        log_.error("raiseStorageEvents",
                   "event " + eventId + " for subscription " + s.id + " not queued");
}

size_t PluginService::submitTestEvent(const Json& parameters) {
    const std::string id = std::to_string(nextEventId_++);
    Json event = testEventPayload(parameters, id, utcTimeText(now()));
    for (const auto& s : subscriptions_.all()) {
        event["Context"] = s.context;
        send(s, id, event);
    }
    return subscriptions_.all().size();
}

void PluginService::saveSubscriptions() {
    saveJsonFile(paths_.subscriptionsFile, subscriptions_.toJson());
}

template <typename Model, typename Parse>
bool PluginService::loadFile(const fs::path& file, const char* what, Model& model, Parse parse) {
    LoadedJson loaded = loadJsonFile(file);
    if (loaded.status == LoadedJson::Status::Loaded) {
        try {
            model = parse(loaded.value);
            return true;
        } catch (const std::exception& e) {
            loaded.problem = e.what();
        }
    }
    if (loaded.status != LoadedJson::Status::Missing) {
        fs::path aside = moveAside(file);
        log_.error("PluginService::load", std::string(what) + " file unusable (" + loaded.problem +
                                              "), moved to " + aside.string());
    }
    return false;
}

void PluginService::loadSubscriptions() {
    if (!loadFile(paths_.subscriptionsFile, "subscriptions", subscriptions_,
                  SubscriptionStore::fromJson))
        subscriptions_ = SubscriptionStore();
}

void PluginService::load(std::ostream& out) {
    loadStorage();
    storage_.host().managerResetAt = now();
    loadAccounts(out);
    loadSubscriptions();
    tasks_.load();
}

void PluginService::loadStorage() {
    if (loadFile(paths_.stateFile, "state", storage_, StorageModel::fromJson))
        return;
    // Starting with the default configuration.
    storage_ = StorageModel::makeDefault();
    saveStorage();
}

void PluginService::loadAccounts(std::ostream& out) {
    auto parse = [](const Json& state) {
        AccountStore store = AccountStore::fromJson(state);
        if (store.empty())
            throw std::runtime_error("no accounts");
        // Nobody could administer the service, nor repair it through Redfish.
        if (!store.administered())
            throw std::runtime_error("no enabled Administrator");
        return store;
    };
    if (loadFile(paths_.accountsFile, "accounts", accounts_, parse)) {
        if (accounts_.skippedEntries().empty())
            return;
        // The rest is served; the file as found is kept for whoever repairs it.
        std::error_code ec;
        const fs::path copy = paths_.accountsFile.string() + ".skipped-entries";
        fs::copy_file(paths_.accountsFile, copy, fs::copy_options::overwrite_existing, ec);
        for (const std::string& problem : accounts_.skippedEntries())
            log_.error("PluginService::loadAccounts", "accounts file " + problem +
                                                          "; entry left out, the file kept as " +
                                                          copy.string());
        return;
    }
    // First start: one administrator with a random password, told once.
    accounts_ = AccountStore();
    const std::string password = crypto::randomPassword(20);
    accounts_.create("admin", password, "Administrator");
    // The password is told only for an account that is stored.
    saveAccounts();
    writeFileAtomically(paths_.adminPasswordFile, password + "\n", 0600);
    out << "Redfish account \"admin\" created; its password is in "
        << paths_.adminPasswordFile.string() << ": " << password << std::endl;
}

} // namespace tolvane::plugin
