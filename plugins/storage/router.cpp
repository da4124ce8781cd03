#include "router.h"

#include <algorithm>
#include <cctype>
#include <iterator>
#include <cstddef>
#include <mutex>

#include "boundedjson.h"
#include "messages.h"
#include "pluginlog.h"

namespace tolvane::plugin {

namespace {

std::vector<std::string> splitPath(const std::string& path) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start <= path.size()) {
        size_t slash = path.find('/', start);
        if (slash == std::string::npos)
            slash = path.size();
        if (slash > start)
            out.push_back(path.substr(start, slash - start));
        start = slash + 1;
    }
    return out;
}

bool startsWithIgnoringCase(const std::string& text, const std::string& prefix) {
    if (text.size() < prefix.size())
        return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) !=
            std::tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    }
    return true;
}

// The query the server forwards on a GET: any of these, joined by "&".
const char* const kExpandMembers = "$expand=Members";
const char* const kPaging[] = {"$top=", "$skip="};
constexpr size_t kMaxPagingDigits = 9;

// The value of a paging option in `item`, nullopt when `item` is not one.
std::optional<std::pair<size_t, size_t>> pagingOption(const std::string& item) {
    for (size_t i = 0; i < std::size(kPaging); ++i) {
        const std::string name = kPaging[i];
        const std::string digits = item.substr(std::min(name.size(), item.size()));
        if (item.compare(0, name.size(), name) != 0 || digits.empty() ||
            digits.size() > kMaxPagingDigits ||
            digits.find_first_not_of("0123456789") != std::string::npos)
            continue;
        return std::make_pair(i, static_cast<size_t>(std::stoul(digits)));
    }
    return std::nullopt;
}

// The forwarded query of a GET split into its items; nullopt when any item
// is not one the server forwards.
std::optional<std::vector<std::string>> forwardedQuery(const std::string& query) {
    std::vector<std::string> items;
    size_t start = 0;
    while (start <= query.size()) {
        const size_t amp = std::min(query.find('&', start), query.size());
        items.push_back(query.substr(start, amp - start));
        if (items.back() != kExpandMembers && !pagingOption(items.back()))
            return std::nullopt;
        start = amp + 1;
    }
    return items;
}

// A forwarded URI names one resource and nothing else. The server refuses
// these URIs first; refusing them here as well keeps a server that lets one
// through from having the plug-in act on the part before a decoded "?" or "#".
void checkForwardedUri(const std::string& method, const std::string& uri) {
    size_t end = uri.size();
    const size_t query = uri.find('?');
    if (method == "GET" && query != std::string::npos && forwardedQuery(uri.substr(query + 1)))
        end = query;
    for (size_t i = 0; i < uri.size(); ++i) {
        const unsigned char ch = static_cast<unsigned char>(uri[i]);
        if (ch < 0x20 || ch == 0x7f || (i < end && (ch == '?' || ch == '#')))
            throw errors::invalidUri(escapeControl(uri));
    }
}

// The page a client asked for, cut out of a collection's members.
void cutPage(Reply& reply, const Request& request) {
    if (reply.paged || (!request.top && !request.skip) || !reply.data.is_object() ||
        !reply.data.contains("Members") || !reply.data["Members"].is_array())
        return;
    Json& members = reply.data["Members"];
    const size_t total = members.size();
    const size_t skip = std::min(request.skip.value_or(0), total);
    const size_t top = std::min(request.top.value_or(total), total - skip);
    Json page(members.begin() + static_cast<std::ptrdiff_t>(skip),
              members.begin() + static_cast<std::ptrdiff_t>(skip + top));
    members = std::move(page);
    reply.data["Members@odata.count"] = total;
    if (skip + top < total)
        reply.data["Members@odata.nextLink"] = request.path +
                                               "?$skip=" + std::to_string(skip + top) +
                                               (request.top ? "&$top=" + std::to_string(top) : "");
}

} // namespace

Json parseRequestJson(const std::string& text) {
    try {
        return parseJson(text);
    } catch (const JsonTextError& e) {
        if (e.kind() == JsonTextError::Kind::NumberOutOfRange && !e.member().empty()) {
            std::string lower = e.member();
            for (char& ch : lower)
                ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
            const bool secret = lower.find("password") != std::string::npos;
            throw errors::propertyValueOutOfRange(secret ? "******" : e.token(), e.member());
        }
        std::string detail = e.what();
        detail[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(detail[0])));
        throw errors::malformedJson().withDetail(detail + ".");
    }
}

bool Caller::has(const std::string& privilege) const {
    return std::find(privileges.begin(), privileges.end(), privilege) != privileges.end();
}

const std::string& Request::param(const std::string& name) const {
    static const std::string empty;
    auto it = params.find(name);
    return it == params.end() ? empty : it->second;
}

const Json& Request::body() const {
    if (!parsed_) {
        Json value = parseRequestJson(bodyText.empty() ? std::string("{}") : bodyText);
        if (!value.is_object())
            throw errors::unrecognizedRequestBody();
        parsed_ = std::move(value);
    }
    return *parsed_;
}

Reply Reply::make(int status, Json data) {
    Reply r;
    r.status = status;
    r.data = std::move(data);
    return r;
}

Reply Reply::file(const std::string& path, const std::string& contentType) {
    Reply r;
    r.kind = Kind::File;
    r.fileName = path;
    r.contentType = contentType;
    return r;
}

Reply Reply::error(int status, Json payload) {
    return make(status, std::move(payload));
}

std::string Reply::envelope() const {
    Json out = Json::object();
    switch (kind) {
    case Kind::Plain:
        out["HttpStatus"] = status;
        out["Data"] = data;
        for (const auto& [name, value] : headers)
            out["Headers"][name] = value;
        break;
    case Kind::File:
        out["HttpStatus"] = status;
        out["Data"] = Json{{"contentType", contentType}, {"fileName", fileName}};
        break;
    case Kind::Login: {
        // The server keeps "response"."Data" as the session data (reading
        // "Role" and "OSPrivilegeLevel" at its top level) and sends what its
        // reply conversion makes of that same text, so it is itself an
        // envelope around the session resource.
        Json inner = Json::object();
        inner["HttpStatus"] = status;
        inner["Data"] = data;
        for (auto it = sessionInfo.begin(); it != sessionInfo.end(); ++it)
            inner[it.key()] = it.value();
        Json response = Json::object();
        response["HttpStatus"] = status;
        response["Data"] = inner;
        response["Headers"] = Json{{"X-Auth-Token", token}, {"Location", location}};
        out["response"] = response;
        break;
    }
    }
    return out.dump(-1, ' ', false, Json::error_handler_t::replace);
}

void Router::add(const std::string& method, const std::string& pattern, Handler handler) {
    add(method, pattern, method == "GET" ? Access::Read : Access::Write, std::move(handler));
}

void Router::add(const std::string& method, const std::string& pattern, Access access,
                 Handler handler) {
    std::vector<std::string> segments = splitPath(pattern);
    auto route = std::find_if(routes_.begin(), routes_.end(),
                              [&](const Route& r) { return r.segments == segments; });
    if (route == routes_.end()) {
        routes_.push_back(Route{std::move(segments), {}});
        route = std::prev(routes_.end());
    }
    route->handlers[method] = Entry{std::move(handler), access};
}

void Router::addUpload(const std::string& pattern, bool withLogFile) {
    uploads_.emplace_back(pattern, withLogFile);
}

Json Router::describe() const {
    Json resources = Json::array();
    for (const Route& route : routes_) {
        std::string uri = kRoot;
        for (const std::string& segment : route.segments)
            uri += "/" + segment;
        Json methods = Json::array();
        for (const auto& handler : route.handlers)
            methods.push_back(handler.first);
        resources.push_back({{"Uri", uri}, {"Methods", methods}});
    }
    Json uploads = Json::array();
    for (const auto& [pattern, withLogFile] : uploads_)
        uploads.push_back({{"Uri", std::string(kRoot) + "/" + pattern}, {"LogFile", withLogFile}});
    return {{"Resources", resources}, {"Uploads", uploads}};
}

std::optional<std::pair<std::string, bool>> Router::normalize(const std::string& uri) {
    std::string path = uri;
    bool expandMembers = false;
    size_t query = path.find('?');
    if (query != std::string::npos) {
        std::string q = path.substr(query + 1);
        expandMembers = q.find("$expand") != std::string::npos;
        path.erase(query);
    }
    size_t fragment = path.find('#');
    if (fragment != std::string::npos)
        path.erase(fragment);
    if (!startsWithIgnoringCase(path, kRoot))
        return std::nullopt;
    std::string rest = path.substr(std::string(kRoot).size());
    if (!rest.empty() && rest.front() != '/')
        return std::nullopt;
    // Normal form: the fixed prefix, single slashes, no trailing slash.
    std::string normal = kRoot;
    for (const auto& segment : splitPath(rest))
        normal += "/" + segment;
    return std::make_pair(normal, expandMembers);
}

Reply Router::dispatch(const std::string& method, const std::string& uri, const std::string& body,
                       const Caller& caller) const {
    return dispatch(method, uri, body, caller, true);
}

Reply Router::dispatch(const std::string& method, const std::string& uri, const std::string& body,
                       const Caller& caller, bool guarded) const {
    try {
        checkForwardedUri(method, uri);
        auto normal = normalize(uri);
        if (!normal)
            throw errors::resourceMissingAtUri(uri);
        Request request;
        request.method = method;
        request.path = normal->first;
        request.expandMembers = normal->second && method == "GET";
        const size_t query = uri.find('?');
        if (method == "GET" && query != std::string::npos) {
            for (const std::string& item :
                 forwardedQuery(uri.substr(query + 1)).value_or(std::vector<std::string>())) {
                if (auto option = pagingOption(item))
                    (option->first == 0 ? request.top : request.skip) = option->second;
            }
        }
        request.bodyText = body;
        request.caller = caller;
        const Entry& entry = match(request);
        std::shared_lock<std::shared_mutex> reading;
        std::unique_lock<std::shared_mutex> writing;
        if (guarded && lock_ && entry.access == Access::Read)
            reading = std::shared_lock<std::shared_mutex>(*lock_);
        else if (guarded && lock_ && entry.access == Access::Write)
            writing = std::unique_lock<std::shared_mutex>(*lock_);
        Reply reply = entry.handler(request);
        if (reply.kind == Reply::Kind::Plain && reply.status == 200)
            cutPage(reply, request);
        // The members are read under the collection's lock: one consistent view.
        if (request.expandMembers && reply.kind == Reply::Kind::Plain && reply.status == 200)
            expand(reply, caller);
        return reply;
    } catch (const RedfishError& e) {
        return Reply::error(e.status(), e.payload());
    } catch (const std::exception& failure) {
        // A failed state write names its file and the system's reason.
        RedfishError e = errors::internalError();
        Reply reply = Reply::error(e.status(), e.payload());
        reply.problem = failure.what();
        return reply;
    } catch (...) {
        RedfishError e = errors::internalError();
        return Reply::error(e.status(), e.payload());
    }
}

const Router::Entry& Router::match(Request& request) const {
    std::vector<std::string> segments = splitPath(request.path.substr(std::string(kRoot).size()));
    for (const auto& route : routes_) {
        if (route.segments.size() != segments.size())
            continue;
        std::map<std::string, std::string> params;
        bool match = true;
        for (size_t i = 0; i < segments.size() && match; ++i) {
            const std::string& p = route.segments[i];
            if (p.size() > 2 && p.front() == '{' && p.back() == '}')
                params[p.substr(1, p.size() - 2)] = segments[i];
            else
                match = p == segments[i];
        }
        if (!match)
            continue;
        auto handler = route.handlers.find(request.method);
        if (handler == route.handlers.end())
            throw errors::operationNotAllowed();
        request.params = std::move(params);
        return handler->second;
    }
    throw errors::resourceMissingAtUri(request.path);
}

void Router::expand(Reply& reply, const Caller& caller) const {
    if (!reply.data.is_object() || !reply.data.contains("Members") ||
        !reply.data["Members"].is_array())
        return;
    for (auto& member : reply.data["Members"]) {
        if (!member.is_object() || !member.contains("@odata.id") || member.size() != 1)
            continue;
        Reply inner = dispatch("GET", member["@odata.id"].get<std::string>(), "{}", caller, false);
        if (inner.status == 200 && inner.kind == Reply::Kind::Plain)
            member = std::move(inner.data);
    }
}

} // namespace tolvane::plugin
