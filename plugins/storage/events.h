// Event subscriptions and the events the plug-in raises: a drive's health
// changing and volumes created, removed or changed, found by comparing the
// storage model before and after a change. The store lives under the model
// lock; the events go to EventDelivery, which sends them without it.
#ifndef TOLVANE_PLUGIN_EVENTS_H
#define TOLVANE_PLUGIN_EVENTS_H

#include <cstdint>
#include <string>
#include <vector>

#include "json.h"
#include "storagemodel.h"

namespace tolvane::plugin {

struct Subscription {
    std::string id;
    std::string destination; // http:// or https:// URL
    std::string context;
    // What the subscriber wants; empty: everything.
    std::vector<std::string> eventTypes; // the deprecated EventTypes
    std::vector<std::string> registryPrefixes;
    std::vector<std::string> resourceTypes;
    // What the subscriber does not want, even where the above let it through.
    std::vector<std::string> excludeRegistryPrefixes;
    std::vector<std::string> excludeMessageIds; // "Registry.Key" or with the version
    // Whether an https subscriber's certificate is checked (against the
    // system's trust store) before an event is sent.
    bool verifyCertificate = false;
};

// What a subscription may ask for: the event types, registries and resource
// types of the events the service sends.
extern const std::vector<std::string> kSubscribableEventTypes;
extern const std::vector<std::string> kEventRegistryPrefixes;
extern const std::vector<std::string> kEventResourceTypes;

class SubscriptionStore {
  public:
    static constexpr size_t kMaxSubscriptions = 16;
    static constexpr size_t kMaxDestinationLength = 1024;
    static constexpr size_t kMaxContextLength = 256;

    // The body of a POST to the subscriptions, checked; throws RedfishError.
    static Subscription fromRequest(const Json& body);
    // Adds `s` with the next Id; ResourceExhaustion when the store is full.
    const Subscription& add(Subscription s);
    const Subscription* find(const std::string& id) const;
    bool remove(const std::string& id);
    const std::vector<Subscription>& all() const { return subscriptions_; }

    Json toJson() const;
    static SubscriptionStore fromJson(const Json& state); // throws std::runtime_error

  private:
    std::vector<Subscription> subscriptions_;
    uint64_t nextId_ = 1;
};

// One record of an event, as the ResourceEvent registry words it.
struct EventRecord {
    std::string messageKey; // "ResourceCreated", "ResourceStatusChangedCritical", ...
    std::vector<std::string> args;
    std::string origin; // URI of the resource concerned
};

// What changed between two states of the storage model, in a stable order.
std::vector<EventRecord> storageEvents(const StorageModel& before, const StorageModel& after);

// The records of `records` that `s` asked for.
std::vector<EventRecord> wantedBy(const Subscription& s, const std::vector<EventRecord>& records);

// The Event payload of EventService.SubmitTestEvent's parameters, checked;
// throws RedfishError. `context` is filled in per subscriber.
Json testEventPayload(const Json& parameters, const std::string& eventId,
                      const std::string& timestamp);

// The Event payload sent to one subscriber.
Json eventPayload(const std::vector<EventRecord>& records, const std::string& eventId,
                  const std::string& context, const std::string& timestamp);

} // namespace tolvane::plugin

#endif
