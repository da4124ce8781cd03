// The manager's log services: the server's operational log and its audit
// log, read from the files the service writes, newest entry first.
#include <algorithm>
#include <cctype>

#include "logfiles.h"
#include "messages.h"
#include "oemschema.h"
#include "payloads.h"
#include "service.h"

namespace tolvane::plugin {

namespace {

const std::string kLogServices = std::string(kRoot) + "/Managers/" + kManagerId + "/LogServices";

struct LogKind {
    const char* id;
    const char* file;
    const char* name;
    const char* description;
};

const LogKind kLogs[] = {
    {"Log", "RedfishServer.log", "Service Log", "Operational lines of the Redfish service"},
    {"AuditLog", "RedfishAudit.log", "Audit Log", "Logins, logouts and account changes"},
};
// The service's own registry, for the lines no DMTF message fits: the line's
// text is the message, its severity the message's.
const std::string kRegistryPrefix = std::string(oem::kNamespace) + "Log";
constexpr const char* kRegistryVersion = "1.0.0";
const std::string kRegistries = std::string(kRoot) + "/Registries";
const std::string kRegistryFile = kRegistries + "/" + kRegistryPrefix;
const std::string kRegistryId = kRegistryPrefix + "." + kRegistryVersion;
const std::string kRegistryUri = kRegistryFile + "/" + kRegistryId + ".json";
const std::string kMessagePrefix = kRegistryPrefix + ".1.0"; // as a MessageId names it

struct LineMessage {
    const char* key;
    const char* severity;
    const char* description;
};
const LineMessage kLineMessages[] = {
    {"LogLine", "OK", "A line of the service's log that reports no failure."},
    {"LogLineWarning", "Warning", "A line of the service's log that reports a failure."},
};

Json registryDocument() {
    Json messages = Json::object();
    for (const LineMessage& m : kLineMessages)
        messages[m.key] = Json{{"Description", m.description},
                               {"Message", "%1"},
                               {"Severity", m.severity},
                               {"MessageSeverity", m.severity},
                               {"NumberOfArgs", 1},
                               {"ParamTypes", Json::array({"string"})},
                               {"ArgDescriptions", Json::array({"The text of the line."})},
                               {"Resolution", "None."}};
    return Json{{"@odata.type", "#MessageRegistry.v1_7_0.MessageRegistry"},
                {"Id", kRegistryId},
                {"Name", kRegistryPrefix + " Message Registry"},
                {"Language", "en"},
                {"Description", "The messages of the service's own log lines."},
                {"RegistryPrefix", kRegistryPrefix},
                {"RegistryVersion", kRegistryVersion},
                {"OwningEntity", oem::kOwner},
                {"Messages", messages}};
}

Json registryFile() {
    Json j = resource(kRegistryFile, "#MessageRegistryFile.v1_1_5.MessageRegistryFile",
                      kRegistryPrefix, kRegistryPrefix + " Message Registry File");
    j["Description"] = "The registry of the service's own log line messages";
    j["Registry"] = kMessagePrefix;
    j["Languages"] = Json::array({"en"});
    j["Location"] = Json::array({Json{{"Language", "en"}, {"Uri", kRegistryUri}}});
    return j;
}

constexpr int kRotations = 3;     // as both writers roll their files
constexpr size_t kPageSize = 50;  // entries in a page a client did not size
constexpr size_t kMaxPage = 1000; // the largest page given

const LogKind& logKind(const Request& r) {
    requireId(r.param("manager"), kManagerId, "Manager");
    for (const LogKind& kind : kLogs) {
        if (r.param("log") == kind.id)
            return kind;
    }
    throw errors::resourceNotFound("LogService", r.param("log"));
}

RotatedLog rotatedLog(const PluginService& s, const LogKind& kind) {
    return RotatedLog(s.paths().logDir / kind.file, kRotations);
}

bool isTimeStamp(const std::string& text) {
    const std::string shape = "dddd-dd-ddTdd:dd:dd";
    if (text.size() < shape.size() + 1 || text.back() != 'Z')
        return false;
    for (size_t i = 0; i < shape.size(); ++i) {
        if (shape[i] == 'd' ? !std::isdigit(static_cast<unsigned char>(text[i]))
                            : text[i] != shape[i])
            return false;
    }
    return true;
}

// The value after `key` ("name=") in an audit line: a quoted text (with "\"
// escapes) or a word; "" when the key is not there.
std::string field(const std::string& text, const std::string& key) {
    const std::string line = " " + text;
    const size_t at = line.find(" " + key);
    if (at == std::string::npos)
        return "";
    size_t i = at + 1 + key.size();
    std::string value;
    if (i < line.size() && line[i] == '"') {
        for (++i; i < line.size() && line[i] != '"'; ++i) {
            if (line[i] == '\\' && i + 1 < line.size())
                ++i;
            value += line[i];
        }
        return value;
    }
    return line.substr(i, line.find(' ', i) - i);
}

struct Record {
    std::string messageId; // "" when no DMTF registry message fits
    std::vector<std::string> args;
    std::string message;
    std::string severity = "OK";
};

// An audit line: logins and account changes are the AccountSecurity
// registry's; anything else is shown as it stands.
Record auditRecord(const std::string& rest) {
    const std::string event = field(rest, "event=");
    const std::string user = field(rest, "user=");
    const std::string address = field(rest, "address=");
    const std::string account = field(rest, "account=");
    const std::string outcome = field(rest, "outcome=");
    const bool success = rest.find(outcome + " success") != std::string::npos;
    const char* kRegistry = "AccountSecurity.1.0.1.";
    Record r;
    r.message = rest;
    r.severity = success ? "OK" : "Warning";
    if ((event == "Login" || event == "BasicLogin") && success) {
        r.messageId = std::string(kRegistry) + "SuccessfulLogin";
        r.args = {user, address, "Redfish"};
        r.message = "User '" + user + "' logged in from '" + address + "' over Redfish.";
    } else if ((event == "Login" || event == "BasicLogin") && outcome == "401") {
        r.messageId = std::string(kRegistry) + "InvalidCredentials";
        r.args = {user, address};
        r.message = "Login as '" + user + "' from '" + address + "' with wrong credentials.";
        r.severity = "Critical";
    } else if (event == "AccountCreate" && success) {
        r.messageId = std::string(kRegistry) + "AccountCreated";
        r.args = {account};
        r.message = "Account '" + account + "' created.";
    } else if (event == "AccountDelete" && success) {
        r.messageId = std::string(kRegistry) + "AccountRemoved";
        r.args = {account};
        r.message = "Account '" + account + "' removed.";
    }
    // A registry message with a part missing would say less than the line.
    if (std::find(r.args.begin(), r.args.end(), "") != r.args.end()) {
        r.messageId.clear();
        r.args.clear();
        r.message = rest;
    }
    return r;
}

// A line of the service log: "<module>:<file>:<line>:<function>()::[LEVEL]text".
Record serviceRecord(const std::string& rest) {
    Record r;
    r.message = rest;
    if (rest.find("::[ERROR]") != std::string::npos)
        r.severity = "Warning";
    const std::string cleared = "::[INFO]Log '";
    const size_t at = rest.find(cleared);
    const std::string tail = "' was cleared.";
    if (at != std::string::npos && rest.size() > at + cleared.size() + tail.size() &&
        rest.compare(rest.size() - tail.size(), tail.size(), tail) == 0) {
        const std::string log =
            rest.substr(at + cleared.size(), rest.size() - tail.size() - at - cleared.size());
        r.messageId = "LogService.1.1.0.LogCleared";
        r.args = {log};
        r.message = "Log '" + log + "' was cleared.";
    }
    return r;
}

Json entryPayload(const LogKind& kind, const LogLine& line) {
    const std::string uri = kLogServices + "/" + kind.id + "/Entries/" + line.id;
    Json j = resource(uri, "#LogEntry.v1_21_0.LogEntry", line.id, "Log Entry " + line.id);
    const size_t space = line.text.find(' ');
    const std::string stamp = line.text.substr(0, space);
    const bool stamped = isTimeStamp(stamp);
    const std::string rest = stamped ? line.text.substr(space + 1) : line.text;
    const Record r = std::string(kind.id) == "AuditLog" ? auditRecord(rest) : serviceRecord(rest);
    if (stamped)
        j["Created"] = stamp;
    j["Severity"] = r.severity;
    j["Message"] = r.message;
    j["EntryType"] = "Event";
    if (r.messageId.empty()) {
        j["MessageId"] = kMessagePrefix + "." + (r.severity == "OK" ? "LogLine" : "LogLineWarning");
        j["MessageArgs"] = Json::array({r.message});
    } else {
        j["MessageId"] = r.messageId;
        j["MessageArgs"] = r.args;
    }
    return j;
}

} // namespace

void addLogResources(Router& router, PluginService& service) {
    PluginService* s = &service;
    router.add("GET", "Registries", [](const Request&) {
        return Reply::ok(collection(kRegistries,
                                    "#MessageRegistryFileCollection.MessageRegistryFileCollection",
                                    "Registry File Collection", {kRegistryFile}));
    });
    router.add("GET", "Registries/{file}", [](const Request& r) {
        requireId(r.param("file"), kRegistryPrefix.c_str(), "MessageRegistryFile");
        return Reply::ok(registryFile());
    });
    router.add("GET", "Registries/{file}/{document}", [](const Request& r) {
        requireId(r.param("file"), kRegistryPrefix.c_str(), "MessageRegistryFile");
        if (r.path != kRegistryUri)
            throw errors::resourceMissingAtUri(r.path);
        return Reply::ok(registryDocument());
    });
    router.add("GET", "Managers/{manager}/LogServices", [](const Request& r) {
        requireId(r.param("manager"), kManagerId, "Manager");
        std::vector<std::string> members;
        for (const LogKind& kind : kLogs)
            members.push_back(kLogServices + "/" + kind.id);
        return Reply::ok(collection(kLogServices, "#LogServiceCollection.LogServiceCollection",
                                    "Log Service Collection", members));
    });
    router.add("GET", "Managers/{manager}/LogServices/{log}", [s](const Request& r) {
        const LogKind& kind = logKind(r);
        const std::string uri = kLogServices + "/" + kind.id;
        Json j = resource(uri, "#LogService.v1_9_0.LogService", kind.id, kind.name);
        j["Description"] = kind.description;
        j["ServiceEnabled"] = true;
        j["OverWritePolicy"] = "WrapsWhenFull";
        j["LogEntryType"] = "Multiple";
        j["DateTime"] = utcTimeText(s->now());
        j["DateTimeLocalOffset"] = "+00:00";
        j["Status"] = status("Enabled", "OK");
        j["Entries"] = link(uri + "/Entries");
        j["Actions"] =
            Json{{"#LogService.ClearLog", Json{{"target", uri + "/Actions/LogService.ClearLog"}}}};
        return Reply::ok(j);
    });
    // The files are read without the model lock: they are not the model's.
    router.add("GET", "Managers/{manager}/LogServices/{log}/Entries", Access::Own,
               [s](const Request& r) {
                   const LogKind& kind = logKind(r);
                   const RotatedLog log = rotatedLog(*s, kind);
                   const std::string uri = kLogServices + "/" + kind.id + "/Entries";
                   const size_t skip = r.skip.value_or(0);
                   const size_t top = std::min(r.top.value_or(kPageSize), kMaxPage);
                   // The members come whole: the schema has clients read
                   // them from the collection (auto-expanded).
                   Json members = Json::array();
                   for (const LogLine& line : log.newest(skip, top))
                       members.push_back(entryPayload(kind, line));
                   Reply reply = Reply::ok(collection(uri, "#LogEntryCollection.LogEntryCollection",
                                                      "Log Entries", {}));
                   reply.data["Members"] = std::move(members);
                   const size_t total = log.count();
                   reply.data["Members@odata.count"] = total;
                   const size_t given = reply.data["Members"].size();
                   if (skip + given < total && given == top)
                       reply.data["Members@odata.nextLink"] =
                           uri + "?$skip=" + std::to_string(skip + top) +
                           (r.top ? "&$top=" + std::to_string(top) : "");
                   reply.paged = true;
                   return reply;
               });
    router.add("GET", "Managers/{manager}/LogServices/{log}/Entries/{entry}", Access::Own,
               [s](const Request& r) {
                   const LogKind& kind = logKind(r);
                   const auto line = rotatedLog(*s, kind).find(r.param("entry"));
                   if (!line)
                       throw errors::resourceNotFound("LogEntry", r.param("entry"));
                   return Reply::ok(entryPayload(kind, *line));
               });
    router.add("POST", "Managers/{manager}/LogServices/{log}/Actions/LogService.ClearLog",
               Access::Own, [s](const Request& r) {
                   const LogKind& kind = logKind(r);
                   for (auto it = r.body().begin(); it != r.body().end(); ++it)
                       throw errors::actionParameterUnknown("ClearLog", it.key());
                   if (!rotatedLog(*s, kind).clear())
                       throw errors::internalError();
                   // Said after the clearing, so the service log keeps it.
                   s->log().info("ClearLog", std::string("Log '") + kind.id + "' was cleared.");
                   return Reply::ok(successPayload());
               });
}

} // namespace tolvane::plugin
