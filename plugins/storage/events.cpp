#include "events.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

#include "messages.h"
#include "service.h"

namespace tolvane::plugin {

const std::vector<std::string> kSubscribableEventTypes = {
    "StatusChange", "ResourceUpdated", "ResourceAdded", "ResourceRemoved", "Alert"};
const std::vector<std::string> kEventRegistryPrefixes = {"ResourceEvent"};
const std::vector<std::string> kEventResourceTypes = {"Drive", "Volume"};

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

// The MessageIds a subscription may exclude: each message the plug-in
// sends, with and without the registry's version.
const std::vector<std::string>& excludableMessageIds() {
    static const std::vector<std::string> ids = [] {
        std::vector<std::string> out;
        for (const auto& m : kMessages) {
            out.push_back(std::string("ResourceEvent.") + m.key);
            out.push_back(kRegistry + std::string(m.key));
        }
        return out;
    }();
    return ids;
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

// A list of texts, each one of `allowed`.
std::vector<std::string> takeChoices(const Json& value, const char* property,
                                     const std::vector<std::string>& allowed) {
    if (!value.is_array())
        throw errors::propertyValueTypeError(argumentText(value), property);
    std::vector<std::string> out;
    for (const auto& item : value) {
        const std::string text = takeText(item, property);
        if (std::find(allowed.begin(), allowed.end(), text) == allowed.end())
            throw errors::propertyValueNotInList(text, property);
        if (std::find(out.begin(), out.end(), text) == out.end())
            out.push_back(text);
    }
    return out;
}

// The resource type of an event's origin, by the URI patterns of the tree.
std::string originType(const std::string& uri) {
    if (uri.find("/Drives/") != std::string::npos)
        return "Drive";
    if (uri.find("/Volumes/") != std::string::npos)
        return "Volume";
    return "";
}

bool accepts(const std::vector<std::string>& wanted, const std::string& value) {
    return wanted.empty() || std::find(wanted.begin(), wanted.end(), value) != wanted.end();
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
        } else if (key == "EventTypes") {
            s.eventTypes = takeChoices(it.value(), "EventTypes", kSubscribableEventTypes);
        } else if (key == "RegistryPrefixes") {
            s.registryPrefixes =
                takeChoices(it.value(), "RegistryPrefixes", kEventRegistryPrefixes);
        } else if (key == "ResourceTypes") {
            s.resourceTypes = takeChoices(it.value(), "ResourceTypes", kEventResourceTypes);
        } else if (key == "ExcludeRegistryPrefixes") {
            s.excludeRegistryPrefixes =
                takeChoices(it.value(), "ExcludeRegistryPrefixes", kEventRegistryPrefixes);
        } else if (key == "ExcludeMessageIds") {
            s.excludeMessageIds =
                takeChoices(it.value(), "ExcludeMessageIds", excludableMessageIds());
        } else if (key == "VerifyCertificate") {
            if (!it.value().is_boolean())
                throw errors::propertyValueTypeError(argumentText(it.value()), key);
            s.verifyCertificate = it.value().get<bool>();
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
        list.push_back(Json{{"Id", s.id},
                            {"Destination", s.destination},
                            {"Context", s.context},
                            {"EventTypes", s.eventTypes},
                            {"RegistryPrefixes", s.registryPrefixes},
                            {"ResourceTypes", s.resourceTypes},
                            {"ExcludeRegistryPrefixes", s.excludeRegistryPrefixes},
                            {"ExcludeMessageIds", s.excludeMessageIds},
                            {"VerifyCertificate", s.verifyCertificate}});
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
            s.eventTypes = j.value("EventTypes", std::vector<std::string>());
            s.registryPrefixes = j.value("RegistryPrefixes", std::vector<std::string>());
            s.resourceTypes = j.value("ResourceTypes", std::vector<std::string>());
            s.excludeRegistryPrefixes =
                j.value("ExcludeRegistryPrefixes", std::vector<std::string>());
            s.excludeMessageIds = j.value("ExcludeMessageIds", std::vector<std::string>());
            // Subscriptions from before the choice had their subscriber checked.
            s.verifyCertificate = j.value("VerifyCertificate", true);
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

namespace {

bool listed(const std::vector<std::string>& list, const std::string& value) {
    return std::find(list.begin(), list.end(), value) != list.end();
}

bool excluded(const Subscription& s, const std::string& messageKey) {
    return listed(s.excludeRegistryPrefixes, "ResourceEvent") ||
           listed(s.excludeMessageIds, "ResourceEvent." + messageKey) ||
           listed(s.excludeMessageIds, kRegistry + messageKey);
}

} // namespace

std::vector<EventRecord> wantedBy(const Subscription& s, const std::vector<EventRecord>& records) {
    std::vector<EventRecord> out;
    for (const auto& r : records) {
        if (accepts(s.eventTypes, message(r.messageKey).eventType) &&
            accepts(s.registryPrefixes, "ResourceEvent") &&
            accepts(s.resourceTypes, originType(r.origin)) && !excluded(s, r.messageKey))
            out.push_back(r);
    }
    return out;
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

namespace {

constexpr size_t kMaxTestEventText = 1024;
constexpr size_t kMaxTestEventArgs = 16;

std::string takeTestText(const Json& value, const char* parameter) {
    if (!value.is_string() || value.get<std::string>().size() > kMaxTestEventText)
        throw errors::actionParameterValueError(parameter, "EventService.SubmitTestEvent");
    return value.get<std::string>();
}

// MessageId as an Event carries it: registry, major and minor version, then
// the key (which may follow the errata version).
bool isMessageId(const std::string& id) {
    size_t start = 0;
    for (int part = 0; part < 4; ++part) {
        const size_t dot = part == 3 ? id.size() : id.find('.', start);
        if (dot == std::string::npos || dot == start || id[dot - 1] == '.')
            return false;
        for (size_t i = start; i < dot; ++i) {
            const unsigned char ch = static_cast<unsigned char>(id[i]);
            const bool ok = part == 1 || part == 2
                                ? std::isdigit(ch) != 0
                                : std::isalnum(ch) || ch == '_' || (part == 3 && ch == '.');
            if (!ok)
                return false;
        }
        start = dot + 1;
    }
    return true;
}

} // namespace

Json testEventPayload(const Json& parameters, const std::string& eventId,
                      const std::string& timestamp) {
    const char* action = "EventService.SubmitTestEvent";
    Json record = Json::object();
    record["MemberId"] = "0";
    record["EventType"] = "Alert"; // the Event schema wants one
    record["EventId"] = eventId;
    record["EventTimestamp"] = timestamp;
    for (auto it = parameters.begin(); it != parameters.end(); ++it) {
        const std::string& key = it.key();
        const Json& value = it.value();
        if (key.find('@') != std::string::npos)
            continue;
        if (key == "MessageId") {
            const std::string id = takeTestText(value, "MessageId");
            if (!isMessageId(id))
                throw errors::actionParameterValueFormatError(id, key, action);
            record[key] = id;
        } else if (key == "EventType") {
            const std::string type = takeTestText(value, "EventType");
            static const std::vector<std::string> types = {
                "StatusChange", "ResourceUpdated", "ResourceAdded", "ResourceRemoved",
                "Alert",        "MetricReport",    "Other"};
            if (std::find(types.begin(), types.end(), type) == types.end())
                throw errors::actionParameterValueNotInList(type, key, action);
            record[key] = type;
        } else if (key == "MessageSeverity" || key == "Severity") {
            const std::string severity = takeTestText(value, key.c_str());
            if (severity != "OK" && severity != "Warning" && severity != "Critical")
                throw errors::actionParameterValueNotInList(severity, key, action);
            record["MessageSeverity"] = severity;
        } else if (key == "EventId" || key == "EventTimestamp" || key == "Message") {
            record[key] = takeTestText(value, key.c_str());
        } else if (key == "OriginOfCondition") {
            record[key] = Json{{"@odata.id", takeTestText(value, "OriginOfCondition")}};
        } else if (key == "EventGroupId") {
            if (!value.is_number_integer())
                throw errors::actionParameterValueError(key, action);
            record[key] = value;
        } else if (key == "MessageArgs") {
            if (!value.is_array() || value.size() > kMaxTestEventArgs)
                throw errors::actionParameterValueError(key, action);
            for (const auto& arg : value)
                takeTestText(arg, "MessageArgs");
            record[key] = value;
        } else {
            throw errors::actionParameterUnknown(action, key);
        }
    }
    if (!record.contains("MessageId"))
        throw errors::actionParameterMissing(action, "MessageId");
    Json j = Json::object();
    j["@odata.type"] = "#Event.v1_13_0.Event";
    j["Id"] = record["EventId"];
    j["Name"] = "Test Event";
    j["Context"] = "";
    j["Events@odata.count"] = 1;
    j["Events"] = Json::array({record});
    return j;
}

} // namespace tolvane::plugin
