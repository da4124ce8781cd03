#include "events.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

#include "messages.h"
#include "service.h"

namespace tolvane::plugin {

namespace {

constexpr const char* kRegistry = "ResourceEvent.1.4.3.";

// Our own wording for the ResourceEvent messages the plug-in sends, with the
// event type of the Event schema that goes with each.
struct EventMessage {
    const char* key;
    const char* text; // "%1", "%2": the record's arguments
    const char* severity;
    const char* eventType;
};

const EventMessage kMessages[] = {
    {"ResourceCreated", "The resource was created.", "OK", "ResourceAdded"},
    {"ResourceRemoved", "The resource was removed.", "OK", "ResourceRemoved"},
    {"ResourceChanged", "Properties of the resource changed.", "OK", "ResourceUpdated"},
    {"ResourceStatusChangedOK", "The health of '%1' is now %2.", "OK", "StatusChange"},
    {"ResourceStatusChangedWarning", "The health of '%1' is now %2.", "Warning", "StatusChange"},
    {"ResourceStatusChangedCritical", "The health of '%1' is now %2.", "Critical", "StatusChange"},
};

const EventMessage& message(const std::string& key) {
    for (const auto& m : kMessages) {
        if (key == m.key)
            return m;
    }
    throw std::logic_error("no event message " + key);
}

std::string filledIn(std::string text, const std::vector<std::string>& args) {
    for (size_t i = args.size(); i > 0; --i) {
        const std::string mark = "%" + std::to_string(i);
        for (size_t at = text.find(mark); at != std::string::npos;
             at = text.find(mark, at + args[i - 1].size()))
            text.replace(at, mark.size(), args[i - 1]);
    }
    return text;
}

std::string takeText(const Json& value, const char* property) {
    if (!value.is_string())
        throw errors::propertyValueTypeError(argumentText(value), property);
    return value.get<std::string>();
}

// An http or https URL with a host and no user information, in printable
// ASCII: where events are sent and what GET shows.
bool plausibleDestination(const std::string& url) {
    if (url.size() > SubscriptionStore::kMaxDestinationLength)
        return false;
    std::string lower = url.substr(0, 8);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
    size_t start = lower.rfind("https://", 0) == 0  ? 8
                   : lower.rfind("http://", 0) == 0 ? 7
                                                    : std::string::npos;
    if (start == std::string::npos)
        return false;
    for (unsigned char ch : url) {
        if (ch <= 0x20 || ch >= 0x7f)
            return false;
    }
    const std::string authority = url.substr(start, url.find_first_of("/?#", start) - start);
    return !authority.empty() && authority.find('@') == std::string::npos &&
           authority.front() != ':';
}

// A fixed value a client may repeat but not change.
void takeFixed(const Json& value, const char* property, const char* only) {
    const std::string text = takeText(value, property);
    if (text != only)
        throw errors::propertyValueNotInList(text, property);
}

} // namespace

Subscription SubscriptionStore::fromRequest(const Json& body) {
    Subscription s;
    bool haveDestination = false, haveProtocol = false;
    for (auto it = body.begin(); it != body.end(); ++it) {
        const std::string& key = it.key();
        if (key.find('@') != std::string::npos)
            continue;
        if (key == "Destination") {
            s.destination = takeText(it.value(), "Destination");
            if (!plausibleDestination(s.destination))
                throw errors::propertyValueFormatError(s.destination, key);
            haveDestination = true;
        } else if (key == "Protocol") {
            takeFixed(it.value(), "Protocol", "Redfish");
            haveProtocol = true;
        } else if (key == "Context") {
            s.context = takeText(it.value(), "Context");
            if (s.context.size() > kMaxContextLength)
                throw errors::propertyValueFormatError(s.context, key);
        } else if (key == "SubscriptionType") {
            takeFixed(it.value(), "SubscriptionType", "RedfishEvent");
        } else if (key == "EventFormatType") {
            takeFixed(it.value(), "EventFormatType", "Event");
        } else {
            throw errors::propertyUnknown(key);
        }
    }
    if (!haveDestination)
        throw errors::propertyMissing("Destination");
    if (!haveProtocol)
        throw errors::propertyMissing("Protocol");
    return s;
}

const Subscription& SubscriptionStore::add(Subscription s) {
    if (subscriptions_.size() >= kMaxSubscriptions)
        throw errors::resourceExhaustion(std::string(kRoot) + "/EventService/Subscriptions");
    s.id = std::to_string(nextId_++);
    subscriptions_.push_back(std::move(s));
    return subscriptions_.back();
}

const Subscription* SubscriptionStore::find(const std::string& id) const {
    for (const auto& s : subscriptions_) {
        if (s.id == id)
            return &s;
    }
    return nullptr;
}

bool SubscriptionStore::remove(const std::string& id) {
    auto it = std::find_if(subscriptions_.begin(), subscriptions_.end(),
                           [&](const Subscription& s) { return s.id == id; });
    if (it == subscriptions_.end())
        return false;
    subscriptions_.erase(it);
    return true;
}

Json SubscriptionStore::toJson() const {
    Json list = Json::array();
    for (const auto& s : subscriptions_)
        list.push_back(Json{{"Id", s.id}, {"Destination", s.destination}, {"Context", s.context}});
    return Json{
        {"Format", "Tolvane-Event-Subscriptions"}, {"NextId", nextId_}, {"Subscriptions", list}};
}

SubscriptionStore SubscriptionStore::fromJson(const Json& state) {
    try {
        SubscriptionStore store;
        store.nextId_ = state.at("NextId").get<uint64_t>();
        for (const auto& j : state.at("Subscriptions")) {
            Subscription s;
            s.id = j.at("Id").get<std::string>();
            s.destination = j.at("Destination").get<std::string>();
            s.context = j.at("Context").get<std::string>();
            if (!plausibleDestination(s.destination) || store.find(s.id) ||
                store.subscriptions_.size() >= kMaxSubscriptions)
                throw std::runtime_error("subscription " + s.id + " is not usable");
            store.subscriptions_.push_back(std::move(s));
        }
        return store;
    } catch (const Json::exception& e) {
        throw std::runtime_error(std::string("subscriptions: ") + e.what());
    }
}

std::vector<EventRecord> storageEvents(const StorageModel& before, const StorageModel& after) {
    std::vector<EventRecord> records;
    for (const auto& c : after.controllers()) {
        const Controller* old = nullptr;
        for (const auto& b : before.controllers())
            old = b.id == c.id ? &b : old;
        if (!old)
            continue;
        for (const auto& d : c.drives) {
            const Drive* was = old->drive(d.id);
            const bool known = d.health == "OK" || d.health == "Warning" || d.health == "Critical";
            if (was && was->health != d.health && known)
                records.push_back({"ResourceStatusChanged" + d.health,
                                   {driveUri(d.id), d.health},
                                   driveUri(d.id)});
        }
        for (const auto& v : old->volumes) {
            auto now = std::find_if(c.volumes.begin(), c.volumes.end(),
                                    [&](const Volume& x) { return x.id == v.id; });
            if (now == c.volumes.end())
                records.push_back({"ResourceRemoved", {}, volumeUri(c.id, v.id)});
            else if (volumeToJson(*now) != volumeToJson(v))
                records.push_back({"ResourceChanged", {}, volumeUri(c.id, v.id)});
        }
        for (const auto& v : c.volumes) {
            if (std::none_of(old->volumes.begin(), old->volumes.end(),
                             [&](const Volume& x) { return x.id == v.id; }))
                records.push_back({"ResourceCreated", {}, volumeUri(c.id, v.id)});
        }
    }
    return records;
}

Json eventPayload(const std::vector<EventRecord>& records, const std::string& eventId,
                  const std::string& context, const std::string& timestamp) {
    Json events = Json::array();
    for (const auto& r : records) {
        const EventMessage& m = message(r.messageKey);
        events.push_back(Json{{"MemberId", std::to_string(events.size())},
                              {"EventId", eventId + "." + std::to_string(events.size())},
                              {"EventType", m.eventType},
                              {"EventTimestamp", timestamp},
                              {"MessageId", kRegistry + r.messageKey},
                              {"MessageArgs", r.args},
                              {"Message", filledIn(m.text, r.args)},
                              {"MessageSeverity", m.severity},
                              {"OriginOfCondition", Json{{"@odata.id", r.origin}}}});
    }
    Json j = Json::object();
    j["@odata.type"] = "#Event.v1_13_0.Event";
    j["Id"] = eventId;
    j["Name"] = "Storage Event";
    j["Context"] = context;
    j["Events@odata.count"] = events.size();
    j["Events"] = events;
    return j;
}

} // namespace tolvane::plugin
