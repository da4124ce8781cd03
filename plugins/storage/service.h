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
#include "paths.h"
#include "pluginlog.h"
#include "router.h"
#include "storagemodel.h"

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

class PluginService {
  public:
    using Clock = std::function<int64_t()>;

    PluginService(PluginPaths paths, PluginLog log = PluginLog(), Clock clock = Clock());

    // Reads the state and account files (moving unreadable ones aside) and
    // creates the first administrator when there are no accounts; the
    // announcement of its password goes to `out`. Throws when a file it
    // needs cannot be written.
    void load(std::ostream& out);

    // One request; never throws.
    Reply dispatch(const std::string& method, const std::string& uri,
                   const std::string& body) const;

    StorageModel& storage() { return storage_; }
    AccountStore& accounts() { return accounts_; }
    SessionStore& sessions() { return sessions_; }
    const PluginPaths& paths() const { return paths_; }
    const PluginLog& log() const { return log_; }
    int64_t now() const;
    std::shared_mutex& modelLock() const { return modelLock_; }

    // The controller behind a Storage Id under the system; throws 404.
    Controller& controller(const std::string& systemId, const std::string& storageId);

    // Runs `change` on the storage model (or the accounts) and saves it, with
    // the model lock held alone by the caller; when
    // `change` throws or the file cannot be written, the model is put back as
    // it was, so a refused request changes nothing.
    template <typename F> auto changeStorage(F change) {
        return transact(
            storage_, [this] { saveStorage(); }, change);
    }
    template <typename F> auto changeAccounts(F change) {
        return transact(
            accounts_, [this] { saveAccounts(); }, change);
    }

  private:
    template <typename Model, typename Save, typename F>
    auto transact(Model& model, Save save, F change) {
        Model before = model;
        try {
            if constexpr (std::is_void_v<decltype(change())>) {
                change();
                save();
            } else {
                auto result = change();
                save();
                return result;
            }
        } catch (...) {
            model = before;
            throw;
        }
    }
    void saveStorage();
    void saveAccounts();
    void loadStorage();
    void loadAccounts(std::ostream& out);

    PluginPaths paths_;
    PluginLog log_;
    Clock clock_;
    StorageModel storage_;
    AccountStore accounts_;
    SessionStore sessions_;
    Router router_;
    mutable std::shared_mutex modelLock_;
};

// Route tables, one per area of the resource tree.
void addServiceResources(Router& router, PluginService& service);
void addStorageResources(Router& router, PluginService& service);
void addAccountResources(Router& router, PluginService& service);
void addOemActions(Router& router, PluginService& service);

} // namespace tolvane::plugin

#endif
