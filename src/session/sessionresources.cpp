#include "session/sessionresources.h"

#include "gate/redfisherrors.h"
#include "gate/requestgate.h"
#include "gate/requestpath.h"
#include "jsonadapter.h"
#include "logging/logplatform.h"
#include "redfishserver/keptfile.h"

#include <ctime>
#include <fstream>
#include <iterator>
#include <mutex>

namespace {

std::string envelope(int status, const std::string& dataText) {
    json::Value data;
    json::Value reply = json::Value::object();
    reply["HttpStatus"] = status;
    if (json::tryParseObject(dataText, data))
        reply["Data"] = data;
    else
        reply["Data"] = dataText;
    return json::dump(reply);
}

int replyStatus(const std::string& reply) {
    json::Value root;
    if (!json::tryParseObject(reply, root) || !json::hasMember(root, "HttpStatus"))
        return 500;
    return static_cast<int>(json::asInteger64(root.at("HttpStatus")));
}

std::string isoUtcTime(int64_t seconds) {
    std::tm tm{};
    char text[32];
    if (!utcCalendar(static_cast<std::time_t>(seconds), tm))
        return "";
    return std::string(text, std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S+00:00", &tm));
}

// A session the plug-in no longer shows, from what the server knows of it.
std::string sessionDocument(const SessionRecord& record) {
    const std::string& uri = record.location;
    json::Value session = json::Value::object();
    session["@odata.id"] = uri;
    session["@odata.type"] = "#Session.v1_8_0.Session";
    session["Id"] = uri.substr(uri.find_last_of('/') + 1);
    session["Name"] = "User Session";
    session["UserName"] = record.userName;
    session["SessionType"] = "Redfish";
    session["CreatedTime"] = isoUtcTime(record.createdAt);
    return json::dump(session);
}

const char* const kSessionService = "/redfish/v1/SessionService";
const char* const kTimeout = "SessionTimeout";

// The file the idle time-out is kept in; one change of it at a time.
std::mutex& keptTimeoutMutex() {
    static std::mutex instance;
    return instance;
}
std::string& keptTimeoutPath() {
    static std::string path;
    return path;
}

bool isTimeoutInRange(const json::Value& seconds) {
    const double value = seconds.get<double>();
    return value >= kMinimumSessionTimeout && value <= kSessionLifetimeSeconds;
}

// The session service as shown: its "SessionTimeout" the enforced one.
std::string sessionServiceReply(const std::string& method, const std::string& pluginReply) {
    json::Value service = resourceData(pluginReply);
    const bool shows = method == "GET" || method == "HEAD" || method == "PATCH";
    if (!shows || sessionIdleTimeout() == 0 || !service.is_object())
        return pluginReply;
    service[kTimeout] = sessionIdleTimeout();
    return envelope(200, json::dump(service));
}

} // namespace

std::string loadSessionTimeout(const std::string& path) {
    std::lock_guard<std::mutex> lock(keptTimeoutMutex());
    keptTimeoutPath() = path;
    setSessionIdleTimeout(kDefaultSessionTimeout);
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return "";
    json::Value kept;
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const json::Value seconds =
        json::tryParseObject(text, kept) ? kept.value(kTimeout, json::Value()) : json::Value();
    if (!seconds.is_number_integer() || !isTimeoutInRange(seconds))
        return "Session time-out in " + path + " unusable; " +
               std::to_string(kDefaultSessionTimeout) + " seconds apply\n";
    setSessionIdleTimeout(seconds.get<int64_t>());
    return "";
}

bool serverChangesSessionService(const std::string& method, RouteKind kind) {
    return method == "PATCH" && kind == RouteKind::SessionService && sessionIdleTimeout() > 0;
}

std::string changeSessionService(const std::string& body, const std::string& current) {
    json::Value changes;
    if (!json::tryParseObject(body, changes))
        return envelope(400, redfisherror::malformedJson());
    const json::Value shown = resourceData(current);
    for (const auto& member : changes.items()) {
        if (member.key() != kTimeout)
            return envelope(400, json::hasMember(shown, member.key().c_str())
                                     ? redfisherror::propertyNotWritable(member.key())
                                     : redfisherror::propertyUnknown(member.key()));
    }
    if (json::hasMember(changes, kTimeout)) {
        const json::Value& seconds = changes.at(kTimeout);
        if (!seconds.is_number_integer())
            return envelope(400,
                            redfisherror::propertyValueTypeError(json::asText(seconds), kTimeout));
        if (!isTimeoutInRange(seconds))
            return envelope(400,
                            redfisherror::propertyValueOutOfRange(json::asText(seconds), kTimeout));
        std::lock_guard<std::mutex> lock(keptTimeoutMutex());
        json::Value kept = json::Value::object();
        kept[kTimeout] = seconds;
        if (!replaceKeptFile(keptTimeoutPath(), json::dump(kept) + "\n"))
            return envelope(500, redfisherror::forStatus(500, kSessionService));
        setSessionIdleTimeout(seconds.get<int64_t>());
    }
    return shown.is_object() ? current : envelope(200, redfisherror::success());
}

std::string sessionResourceReply(const std::string& method, const std::string& path, RouteKind kind,
                                 const std::string& pluginReply,
                                 const std::optional<SessionRecord>& heldBefore, int64_t now) {
    if (kind == RouteKind::SessionService)
        return sessionServiceReply(method, pluginReply);
    if (kind == RouteKind::SessionMember) {
        const bool pluginHasIt = replyStatus(pluginReply) / 100 == 2;
        if (method == "DELETE") {
            removeSessionsByLocation(path);
            return heldBefore && !pluginHasIt ? envelope(200, redfisherror::success())
                                              : pluginReply;
        }
        if (method != "GET" && method != "HEAD")
            return pluginReply;
        if (!heldBefore)
            return envelope(404, redfisherror::forStatus(404, path));
        return pluginHasIt ? pluginReply : envelope(200, sessionDocument(*heldBefore));
    }
    if (kind != RouteKind::SessionCollection || (method != "GET" && method != "HEAD"))
        return pluginReply;
    json::Value collection = resourceData(pluginReply);
    if (!collection.is_object() || !json::hasMember(collection, "Members"))
        return pluginReply;
    json::Value members = json::Value::array();
    for (const std::string& location : sessionLocations(now))
        members.push_back(json::Value{{"@odata.id", location}});
    collection["Members@odata.count"] = members.size();
    collection["Members"] = std::move(members);
    // The table's list is whole: a page the plug-in cut of its own is not.
    collection.erase("Members@odata.nextLink");
    return envelope(200, json::dump(collection));
}
