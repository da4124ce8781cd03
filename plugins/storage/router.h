// Requests as the server hands them to the plug-in, replies as it reads them
// back, and the table that maps a method and URI pattern to a handler.
#ifndef TOLVANE_PLUGIN_ROUTER_H
#define TOLVANE_PLUGIN_ROUTER_H

#include <functional>
#include <map>
#include <optional>
#include <shared_mutex>
#include <string>
#include <utility>
#include <vector>

#include "json.h"

namespace tolvane::plugin {

constexpr const char* kRoot = "/redfish/v1";

// Who sent a request, as the server tells it (setCommandCaller): the
// session's user and its privileges. `known` is false when the server told
// nothing (its own reads, logins, or a server without that entry point).
struct Caller {
    bool known = false;
    std::string userName;
    std::vector<std::string> privileges;
    bool has(const std::string& privilege) const;
};

struct Request {
    std::string method;                        // "GET", "POST", "PATCH", "DELETE"
    std::string path;                          // "/redfish/v1/...", no query, no trailing "/"
    bool expandMembers = false;                // the URI carried "?$expand=..."
    std::optional<size_t> top, skip;           // "$top", "$skip" of a GET
    std::string bodyText;                      // the argument text as received
    std::map<std::string, std::string> params; // "{name}" segments of the matched pattern
    Caller caller;

    const std::string& param(const std::string& name) const;
    // The argument text as a JSON object; throws MalformedJSON or
    // UnrecognizedRequestBody (400) otherwise. Parsed once.
    const Json& body() const;

  private:
    mutable std::optional<Json> parsed_;
};

// What a handler answers. The three kinds map onto the three reply shapes
// the server understands: a plain envelope, a file answer and a login.
struct Reply {
    enum class Kind { Plain, File, Login };
    Kind kind = Kind::Plain;
    int status = 200;
    Json data = Json::object();
    // Header fields of a plain answer the server sends with it ("Location",
    // "Retry-After", "Allow" of an operation that runs on as a task).
    std::vector<std::pair<std::string, std::string>> headers;
    // File answers.
    std::string fileName;
    std::string contentType;
    // Logins: the session data the server keeps ("Role", "OSPrivilegeLevel")
    // and the headers it sends.
    Json sessionInfo = Json::object();
    std::string token;
    std::string location;
    // Why an unexpected failure answered 500 (for the log, never the client).
    std::string problem;
    // The handler applied "$top" and "$skip" itself (its members are not all
    // at hand); otherwise the router cuts the page out of "Members".
    bool paged = false;

    static Reply ok(Json data) { return make(200, std::move(data)); }
    static Reply created(Json data) { return make(201, std::move(data)); }
    static Reply make(int status, Json data);
    static Reply file(const std::string& path, const std::string& contentType);
    static Reply error(int status, Json payload);

    // The text the entry point leaves in the server's reply string.
    std::string envelope() const;
};

// Client-supplied JSON text parsed within the plug-in's budget; past it, or
// when it is not JSON, a 400 RedfishError (MalformedJSON, or
// PropertyValueOutOfRange for a number no type can hold).
Json parseRequestJson(const std::string& text);

using Handler = std::function<Reply(const Request&)>;

// How a handler reaches the model while calls overlap: readers share the
// model lock, writers hold it alone, and a handler that must not hold it for
// its whole run (a login hashes a password first) takes it itself, in steps.
enum class Access { Read, Write, Own };

class Router {
  public:
    // `pattern` is relative to /redfish/v1, segments separated by "/", with
    // "{name}" for a variable segment; "" is /redfish/v1 itself. GETs read,
    // everything else writes, unless `access` says otherwise.
    void add(const std::string& method, const std::string& pattern, Handler handler);
    void add(const std::string& method, const std::string& pattern, Access access, Handler handler);

    // A POST target that takes a multipart upload; `withLogFile`: the server
    // adds the path of a log file to the arguments.
    void addUpload(const std::string& pattern, bool withLogFile = false);

    // The routes and upload targets as the server's describeResources entry
    // point hands them over: {"Resources": [{"Uri", "Methods"}], "Uploads":
    // [{"Uri", "LogFile"}]}.
    Json describe() const;

    // The model lock that handlers run under; without one they run unguarded.
    void guardWith(std::shared_mutex& lock) { lock_ = &lock; }

    // Runs the request; never throws. Redfish errors become error replies,
    // anything else a 500 InternalError.
    Reply dispatch(const std::string& method, const std::string& uri, const std::string& body,
                   const Caller& caller = Caller()) const;

    // Splits a forwarded URI into path and expansion flag; nullopt when it
    // is not under /redfish/v1. dispatch() has refused every URI with a
    // control character, a "#", or a "?" other than the server's GET
    // query ("$expand=Members", "$top=<n>", "$skip=<n>", joined by "&") before.
    static std::optional<std::pair<std::string, bool>> normalize(const std::string& uri);

  private:
    struct Entry {
        Handler handler;
        Access access;
    };
    struct Route {
        std::vector<std::string> segments;
        std::map<std::string, Entry> handlers; // by method
    };
    // `guarded`: take the model lock as the handler's access says; false for
    // the members of an expansion, whose collection holds it already.
    Reply dispatch(const std::string& method, const std::string& uri, const std::string& body,
                   const Caller& caller, bool guarded) const;
    const Entry& match(Request& request) const;
    void expand(Reply& reply, const Caller& caller) const;
    std::vector<Route> routes_;
    std::vector<std::pair<std::string, bool>> uploads_;
    std::shared_mutex* lock_ = nullptr;
};

} // namespace tolvane::plugin

#endif
