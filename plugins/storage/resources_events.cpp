// The event service and its subscriptions.
#include "messages.h"
#include "payloads.h"
#include "service.h"

namespace tolvane::plugin {

namespace {

const std::string R = kRoot;
const std::string kSubscriptions = R + "/EventService/Subscriptions";

Json subscriptionPayload(const Subscription& s) {
    Json j = resource(kSubscriptions + "/" + s.id, "#EventDestination.v1_16_0.EventDestination",
                      s.id, "Event Subscription " + s.id);
    j["Destination"] = s.destination;
    j["Context"] = s.context;
    j["Protocol"] = "Redfish";
    j["SubscriptionType"] = "RedfishEvent";
    j["EventFormatType"] = "Event";
    j["Status"] = status("Enabled", "OK");
    j["RegistryPrefixes"] = s.registryPrefixes;
    j["ResourceTypes"] = s.resourceTypes;
    j["ExcludeRegistryPrefixes"] = s.excludeRegistryPrefixes;
    j["ExcludeMessageIds"] = s.excludeMessageIds;
    j["VerifyCertificate"] = s.verifyCertificate;
    // Deprecated: shown only to the subscriber that asked for it.
    if (!s.eventTypes.empty())
        j["EventTypes"] = s.eventTypes;
    return j;
}

} // namespace

void addEventResources(Router& router, PluginService& service) {
    PluginService* s = &service;

    router.add("GET", "EventService", [s](const Request&) {
        const EventDelivery::Policy& policy = s->delivery().policy();
        const bool enabled = EventDelivery::available();
        Json j = resource(R + "/EventService", "#EventService.v1_12_0.EventService", "EventService",
                          "Event Service");
        j["ServiceEnabled"] = enabled;
        j["DeliveryRetryAttempts"] = policy.attempts - 1;
        j["DeliveryRetryIntervalSeconds"] = (policy.retryIntervalMs + 999) / 1000;
        j["EventFormatTypes"] = Json::array({"Event"});
        j["RegistryPrefixes"] = kEventRegistryPrefixes;
        j["ResourceTypes"] = kEventResourceTypes;
        // A subscription may exclude registries and messages; it cannot ask
        // for the origin's payload or for the resources below a type.
        j["ExcludeRegistryPrefix"] = true;
        j["ExcludeMessageId"] = true;
        j["IncludeOriginOfConditionSupported"] = false;
        j["SubordinateResourcesSupported"] = false;
        j["Status"] = status(enabled ? "Enabled" : "Disabled", "OK");
        j["Subscriptions"] = link(kSubscriptions);
        j["Actions"] =
            Json{{"#EventService.SubmitTestEvent",
                  Json{{"target", R + "/EventService/Actions/EventService.SubmitTestEvent"}}}};
        return Reply::ok(j);
    });
    router.add("POST", "EventService/Actions/EventService.SubmitTestEvent", [s](const Request& r) {
        const size_t subscribers = s->submitTestEvent(r.body());
        s->log().debug("SubmitTestEvent",
                       "test event for " + std::to_string(subscribers) + " subscriber(s)");
        return Reply::ok(successPayload());
    });
    router.add("GET", "EventService/Subscriptions", [s](const Request&) {
        std::vector<std::string> members;
        for (const auto& sub : s->subscriptions().all())
            members.push_back(kSubscriptions + "/" + sub.id);
        return Reply::ok(collection(kSubscriptions,
                                    "#EventDestinationCollection.EventDestinationCollection",
                                    "Event Subscriptions", members));
    });
    router.add("POST", "EventService/Subscriptions", [s](const Request& r) {
        Subscription wanted = SubscriptionStore::fromRequest(r.body());
        return s->changeSubscriptions([&] {
            const Subscription& added = s->subscriptions().add(wanted);
            s->log().debug("Subscribe", "subscription " + added.id + " for " + added.destination);
            return Reply::created(subscriptionPayload(added));
        });
    });
    router.add("GET", "EventService/Subscriptions/{subscription}", [s](const Request& r) {
        const Subscription* sub = s->subscriptions().find(r.param("subscription"));
        if (!sub)
            throw errors::resourceNotFound("EventDestination", r.param("subscription"));
        return Reply::ok(subscriptionPayload(*sub));
    });
    router.add("DELETE", "EventService/Subscriptions/{subscription}", [s](const Request& r) {
        return s->changeSubscriptions([&] {
            if (!s->subscriptions().remove(r.param("subscription")))
                throw errors::resourceNotFound("EventDestination", r.param("subscription"));
            return Reply::ok(successPayload());
        });
    });
}

} // namespace tolvane::plugin
