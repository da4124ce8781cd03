// The request handler: its construction, the checks every method shares, the
// reading of request bodies, the reply envelope and the response head.
#include "redfishserverhandler.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <utility>

#include "compactreply.h"
#include "gate/redfisherrors.h"
#include "hostheader.h"
#include "jsonadapter.h"
#include "loglines.h"
#include "answer/answerwriter.h"
#include "answer/classichead.h"
#include "session/sessionauth.h"

RedfishServerHandler::RedfishServerHandler(const std::string& hostAddress,
                                           RedfishModuleHandle module,
                                           int32_t sessionTimeoutSetting)
    : hostName(hostAddress), pluginModule(module), sessionTimeout(sessionTimeoutSetting),
      sessions_(sessionTimeoutSetting) {}

bool RedfishServerHandler::pluginCallsMayOverlap() {
    std::call_once(overlapAsked_,
                   [this] { pluginCallsMayOverlap_ = pluginTakesOverlappingCalls(pluginModule); });
    return pluginCallsMayOverlap_;
}

RedfishServerHandler::~RedfishServerHandler() = default;

bool RedfishServerHandler::isAuthorized(struct mg_connection* conn) {
    if (!conn)
        return false;
    const struct mg_request_info* ri = mg_get_request_info(conn);
    if (!ri)
        return false;
    const std::string clientAddress = ri->remote_addr;
    if (clientAddress.empty())
        return false;
    // The session is bound to its token: the address alone would let every
    // other client behind it in with the same rights.
    const std::string token =
        presentedToken(mg_get_header(conn, "X-Auth-Token"), mg_get_header(conn, "Cookie"));
    return authorizeSession(clientAddress, token, static_cast<int64_t>(std::time(nullptr)));
}

void RedfishServerHandler::learnHostName(struct mg_connection* conn) {
    const struct mg_request_info* ri = conn ? mg_get_request_info(conn) : nullptr;
    if (!ri)
        return;
    std::lock_guard<std::mutex> lock(hostMutex_);
    for (int i = 0; i < ri->num_headers; ++i) {
        const char* name = ri->http_headers[i].name;
        if (!name || std::strcmp(name, "Host") != 0)
            continue;
        const std::string host =
            hostNameFromHostHeader(ri->http_headers[i].value ? ri->http_headers[i].value : "");
        if (!host.empty()) {
            hostName = host;
            hostNameKnown = true;
        }
        return;
    }
}

void RedfishServerHandler::learnHostNameOnce(struct mg_connection* conn) {
    {
        std::lock_guard<std::mutex> lock(hostMutex_);
        if (hostNameKnown)
            return;
    }
    learnHostName(conn);
}

std::string RedfishServerHandler::knownHostName() {
    std::lock_guard<std::mutex> lock(hostMutex_);
    return hostName;
}

std::string RedfishServerHandler::readRequestBody(struct mg_connection* conn) {
    std::string body;
    if (!conn)
        return body;
    // Bodies of ordinary requests have already been received by the HTTP
    // layer, outside the handler lock.
    if (CivetServer::prefetchedBody(conn, body) != BodyPrefetch::None)
        return body;
    body.clear();
    mg_lock_connection(conn);
    char buffer[2048];
    int n;
    while ((n = mg_read(conn, buffer, sizeof(buffer))) > 0)
        body.append(buffer, static_cast<size_t>(n));
    mg_unlock_connection(conn);
    return body;
}

RequestContext::RequestContext(RedfishServerHandler& handler, struct mg_connection* conn_,
                               GateRequest request_)
    : conn(conn_), ri(mg_get_request_info(conn_)), request(std::move(request_)),
      calls(handler.pluginModule, handler.pluginCallsMayOverlap(),
            CivetServer::callHoldsGlobalLock(conn_)),
      body(handler, conn_) {
    request.route = routeOf(request.path);
    const RouteKind kind = request.route.kind;
    request.login =
        request.method == "POST" && !request.multipart && kind == RouteKind::SessionCollection;
}

namespace {
// Whether `allow` ("GET, HEAD") names `method`.
bool methodListed(const char* allow, const std::string& method) {
    const std::string list = allow ? allow : "";
    for (size_t at = 0; at < list.size();) {
        const size_t end = std::min(list.find(',', at), list.size());
        size_t first = list.find_first_not_of(' ', at);
        if (first < end && list.compare(first, end - first, method) == 0)
            return true;
        at = end + 1;
    }
    return false;
}
} // namespace

bool RedfishServerHandler::admit(RequestContext& context, bool readsBody) {
    learnHostNameOnce(context.conn);
    PluginCalls& calls = context.calls;
    const std::string address = context.ri->remote_addr;
    context.gate = passGate(
        context.conn, context.request, [&calls](const std::string& uri) { return calls.read(uri); },
        readsBody ? BodyReader([&context]() -> const std::string& { return context.body.text(); })
                  : BodyReader(),
        [&](const BasicCredentials& c) {
            return sessions_.verifyBasic(calls, address, c, knownHostName());
        });
    if (!context.gate.pass)
        return false;
    // The server's own documents are read only; no plug-in hears of a change.
    const std::string& method = context.request.method;
    if (answeredByServer(context.request.route.kind) &&
        !methodListed(context.request.route.allow, method)) {
        writeErrorAnswer(context.conn, 405, redfisherror::operationNotAllowed(),
                         {{"Allow", context.request.route.allow}});
        return false;
    }
    if (context.gate.session)
        calls.actAs(context.gate.session->userName, context.gate.session->privileges);
    return true;
}

const std::string& RequestBody::text() {
    if (!read_) {
        text_ = handler_.readRequestBody(conn_);
        if (text_.empty())
            text_ = "{}";
        read_ = true;
    }
    return text_;
}

bool RedfishServerHandler::answerBodyFailure(struct mg_connection* conn, const char* method,
                                             const char* uri) {
    if (!conn)
        return false;
    std::string ignored;
    const BodyPrefetch outcome = CivetServer::prefetchedBody(conn, ignored);
    int status;
    if (outcome == BodyPrefetch::TooLarge)
        status = 413;
    else if (outcome == BodyPrefetch::Incomplete)
        status = 400;
    else
        return false;
    REDFISH_LOG("RedfishServerHandler::answerBodyFailure", LOG_LEVEL_ERROR,
                " Request body refused: %s %s: %d %s", method ? method : "", uri ? uri : "", status,
                classicStatusText(status));
    sendAnswer(conn, generalErrorAnswer(status));
    return true;
}

Answer RedfishServerHandler::generalErrorAnswer(int status) {
    json::Value error;
    error["error"]["code"] = "Base.1.0.GeneralError";
    error["error"]["message"] = classicStatusText(status);
    Answer answer = jsonAnswer(status, json::dump(error));
    // A Redfish client reads the registry's message, not the status text.
    answer.registryError = true;
    return answer;
}

std::string RedfishServerHandler::normalisedUri(const struct mg_request_info* ri) {
    if (!ri || !ri->local_uri)
        return "";
    return ri->local_uri;
}

bool RedfishServerHandler::traceEnabled() {
    const int type = mg_get_debug_log_type();
    return type == 4 || type == 5;
}
