#include "session/sessionresources.h"

#include "gate/redfisherrors.h"
#include "gate/requestgate.h"
#include "gate/requestpath.h"
#include "jsonadapter.h"
#include "logging/logplatform.h"

#include <ctime>

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

} // namespace

std::string sessionResourceReply(const std::string& method, const std::string& path,
                                 const std::string& pluginReply,
                                 const std::optional<SessionRecord>& heldBefore, int64_t now) {
    if (isSessionMember(path)) {
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
    if (!isSessionCollection(path) || (method != "GET" && method != "HEAD"))
        return pluginReply;
    json::Value collection = resourceData(pluginReply);
    if (!collection.is_object() || !json::hasMember(collection, "Members"))
        return pluginReply;
    json::Value members = json::Value::array();
    for (const std::string& location : sessionLocations(now))
        members.push_back(json::Value{{"@odata.id", location}});
    collection["Members@odata.count"] = members.size();
    collection["Members"] = std::move(members);
    return envelope(200, json::dump(collection));
}
