// The plug-in's model object: every piece of state (storage model, accounts,
// sessions, file locations) lives here. The entry points create one in
// initializeAllPlugins and destroy it in uninitializeAllPlugins.
//
// Requests may arrive on several threads at once. The model lock guards all
// of the state: dispatch() holds it shared for reading handlers and alone for
// writing ones; handlers registered with Access::Own take it themselves
// around the steps that touch the state (modelLock()).
#ifndef TOLVANE_PLUGIN_SERVICE_H
#define TOLVANE_PLUGIN_SERVICE_H

#include <cstdint>
#include <functional>
#include <ostream>
#include <shared_mutex>
#include <string>

#include "accounts.h"
#include "delivery.h"
#include "events.h"
#include "paths.h"
#include "pluginlog.h"
#include "router.h"
#include "storagemodel.h"
#include "tasks.h"

namespace tolvane::plugin {

// Fixed identities of the simulated host.
constexpr const char* kSystemId = "1";
constexpr const char* kChassisId = "1";
constexpr const char* kManagerId = "1";
constexpr const char* kControllerMemberId = "0";

std::string systemUri();
std::string storageUri(const std::string& storageId);
std::string driveCollectionUri();
std::string driveUri(const std::string& driveId);
std::string volumeUri(const std::string& storageId, const std::string& volumeId);
std::string oemActionUri(const std::string& storageId, const std::string& action);
std::string utcTimeText(int64_t seconds); // "2026-01-02T03:04:05Z"

// The ResetType values of the system's and the manager's Reset actions.
extern const std::vector<std::string> kSystemResetTypes;
extern const std::vector<std::string> kManagerResetTypes;

class PluginService {
  public:
    using Clock = std::function<int64_t()>;

    PluginService(PluginPaths paths, PluginLog log = PluginLog(), Clock clock = Clock(),
                  EventDelivery::Policy delivery = EventDelivery::Policy());

    // Reads the state and account files (moving unreadable ones aside) and
    // creates the first administrator when there are no accounts; the
    // announcement of its password goes to `out`. Throws when a file it
    // needs cannot be written.
    void load(std::ostream& out);

    // One request of `caller`; never throws.
    Reply dispatch(const std::string& method, const std::string& uri, const std::string& body,
                   const Caller& caller = Caller()) const;

    const Router& router() const { return router_; }
    StorageModel& storage() { return storage_; }
    AccountStore& accounts() { return accounts_; }
    SessionStore& sessions() { return sessions_; }
    SubscriptionStore& subscriptions() { return subscriptions_; }
    const EventDelivery& delivery() const { return delivery_; }
    TaskRunner& tasks() { return tasks_; }
    const PluginPaths& paths() const { return paths_; }
    const PluginLog& log() const { return log_; }
    int64_t now() const;
    std::shared_mutex& modelLock() const { return modelLock_; }

    // Sends the event that EventService.SubmitTestEvent's `parameters`
    // describe to every subscriber, with the model lock held alone; throws
    // RedfishError for bad parameters. Returns the number of subscribers.
    size_t submitTestEvent(const Json& parameters);

    // The controller behind a Storage Id under the system; throws 404.
    Controller& controller(const std::string& systemId, const std::string& storageId);

    // Runs `change` on the storage model (or the accounts, or the event
    // subscriptions) and saves it, with the model lock held alone by the
    // caller; when `change` throws or the file cannot be written, the model is
    // put back as it was, so a refused request changes nothing. A saved change
    // of the storage raises its events.
    template <typename F> auto changeStorage(F change) {
        return transact(
            storage_, [this] { saveStorage(); },
            [this](const StorageModel& before) { raiseStorageEvents(before); }, change);
    }
    template <typename F> auto changeAccounts(F change) {
        return transact(
            accounts_, [this] { saveAccounts(); }, [](const AccountStore&) {}, change);
    }
    template <typename F> auto changeSubscriptions(F change) {
        return transact(
            subscriptions_, [this] { saveSubscriptions(); }, [](const SubscriptionStore&) {},
            change);
    }

  private:
    template <typename Model, typename Save, typename Saved, typename F>
    auto transact(Model& model, Save save, Saved saved, F change) {
        Model before = model;
        try {
            if constexpr (std::is_void_v<decltype(change())>) {
                change();
                save();
                saved(before);
            } else {
                auto result = change();
                save();
                saved(before);
                return result;
            }
        } catch (...) {
            model = before;
            throw;
        }
    }
    // Queues an Event for every subscriber of what changed since `before`;
    // never throws (a change is not undone for an event that cannot go).
    void raiseStorageEvents(const StorageModel& before) noexcept;
    // Queues one event for one subscriber; a full queue is logged.
    void send(const Subscription& s, const std::string& eventId, const Json& event);
    void saveStorage();
    void saveAccounts();
    void saveSubscriptions();
    // Reads `file` into `model` with `parse` (which throws on a bad file);
    // false when it is missing or unusable, and an unusable one is moved aside.
    template <typename Model, typename Parse>
    bool loadFile(const std::filesystem::path& file, const char* what, Model& model, Parse parse);
    void loadStorage();
    void loadAccounts(std::ostream& out);
    void loadSubscriptions();

    PluginPaths paths_;
    PluginLog log_;
    Clock clock_;
    StorageModel storage_;
    AccountStore accounts_;
    SessionStore sessions_;
    SubscriptionStore subscriptions_;
    uint64_t nextEventId_ = 1;
    Router router_;
    mutable std::shared_mutex modelLock_;
    // Last, so that its thread stops before the rest goes.
    EventDelivery delivery_;
    // Its worker applies results to the model and may raise events: it stops
    // before both go.
    TaskRunner tasks_;
};

// Route tables, one per area of the resource tree.
void addServiceResources(Router& router, PluginService& service);
void addStorageResources(Router& router, PluginService& service);
void addAccountResources(Router& router, PluginService& service);
void addOemActions(Router& router, PluginService& service);
void addEventResources(Router& router, PluginService& service);
void addTaskResources(Router& router, PluginService& service);
void addUpdateResources(Router& router, PluginService& service);
void addHostActions(Router& router, PluginService& service);
void addNetworkResources(Router& router, PluginService& service);
void addLogResources(Router& router, PluginService& service);

// Refuses (404 ResourceNotFound) an Id other than the one fixed one.
void requireId(const std::string& given, const char* expected, const char* type);

// The chassis, as GET and PATCH answer it.
Json chassisPayload(PluginService& service);

} // namespace tolvane::plugin

#endif
