// The server object: start and stop, handler registration, the library's
// callbacks and the method dispatch under the process-wide lock.
#include "civetserver.h"

#include <algorithm>
#include <cassert>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "bodyprefetch.h"
#include "connectionlimits.h"

namespace {

// Held around every handler call: the program's request operations share
// state that has no locks of its own.
class GlobalLockGuard {
  public:
    GlobalLockGuard() { mg_global_lock(); }
    ~GlobalLockGuard() { mg_global_unlock(); }
    GlobalLockGuard(const GlobalLockGuard&) = delete;
    GlobalLockGuard& operator=(const GlobalLockGuard&) = delete;
};

// A method's two handler slots: the status-code form, then the plain form.
struct Operation {
    const char* method;
    bool upload; // a POST whose Content-Type names multipart/form-data
    bool (CivetHandler::*withStatus)(CivetServer*, struct mg_connection*, int*);
    bool (CivetHandler::*plain)(CivetServer*, struct mg_connection*);
};

// Methods compare case-sensitively; uploads are POSTs whose Content-Type
// names multipart/form-data in any letter case.
const Operation kOperations[] = {
    {"GET", false, &CivetHandler::handleGet, &CivetHandler::handleGet},
    {"POST", true, &CivetHandler::handleFilePost, &CivetHandler::handleFilePost},
    {"POST", false, &CivetHandler::handlePost, &CivetHandler::handlePost},
    {"HEAD", false, &CivetHandler::handleHead, &CivetHandler::handleHead},
    {"PUT", false, &CivetHandler::handlePut, &CivetHandler::handlePut},
    {"DELETE", false, &CivetHandler::handleDelete, &CivetHandler::handleDelete},
    {"OPTIONS", false, &CivetHandler::handleOptions, &CivetHandler::handleOptions},
    {"PATCH", false, &CivetHandler::handlePatch, &CivetHandler::handlePatch},
};

// The operation of a request; nullptr for a method no slot takes.
const Operation* chooseOperation(const char* method, const char* contentType) {
    if (method == nullptr)
        return nullptr;
    const bool upload =
        contentType != nullptr && mg_strcasestr(contentType, "MULTIPART/FORM-DATA") != nullptr;
    for (const Operation& op : kOperations) {
        if (std::strcmp(op.method, method) == 0 && (!op.upload || upload))
            return &op;
    }
    return nullptr;
}

// The status-code form decides when it leaves a code of 0 or more;
// otherwise the plain form answers (1) or not (0).
int dispatch(const Operation* op, CivetHandler* handler, CivetServer* server,
             struct mg_connection* conn) {
    if (op == nullptr)
        return 0;
    int statusCode = -1;
    (handler->*op->withStatus)(server, conn, &statusCode);
    if (statusCode >= 0)
        return statusCode;
    return (handler->*op->plain)(server, conn) ? 1 : 0;
}

CivetServer* serverOf(const struct mg_connection* conn) {
    const struct mg_request_info* ri = mg_get_request_info(conn);
    assert(ri != nullptr);
    CivetServer* me = static_cast<CivetServer*>(ri->user_data);
    assert(me != nullptr);
    return me;
}

} // namespace

namespace {
// The library's threads start inside mg_start2 and may call back before the
// constructor has stored the context it returns; the slot is therefore read
// and written atomically. Its type stays a plain pointer for derived classes.
void storeContext(struct mg_context*& slot, struct mg_context* value) {
    __atomic_store_n(&slot, value, __ATOMIC_RELEASE);
}
} // namespace

struct mg_context* CivetServer::contextOf(const CivetServer* server) {
    return __atomic_load_n(&server->context, __ATOMIC_ACQUIRE);
}

CivetServer::CivetServer(const char** options, const struct CivetCallbacks* _callbacks,
                         const void* UserContextIn)
    : context(nullptr), UserContext(UserContextIn) {
    CivetCallbacks callbacks;
    if (_callbacks != nullptr) {
        callbacks = *_callbacks;
        userCloseHandler = _callbacks->connection_close;
    } else {
        userCloseHandler = nullptr;
    }
    callbacks.connection_close = closeHandler;

    // Our own options are kept here; the engine gets the rest.
    ConnectionLimits limits;
    std::vector<const char*> engineOptions;
    for (size_t i = 0; options != nullptr && options[i] != nullptr && options[i + 1] != nullptr;
         i += 2) {
        const std::string name = options[i];
        if (name == kConnectionsPerClientOption) {
            limits.connectionsPerClient = std::atoi(options[i + 1]);
        } else if (name == kRequestHeadTimeoutOption) {
            limits.requestHeadTimeoutMs = std::atoi(options[i + 1]);
        } else if (name == kWaitingConnectionsOption) {
            limits.waitingConnections = std::atoi(options[i + 1]);
        } else if (name == kWaitingBodyBytesOption) {
            limits.waitingBodyBytes = static_cast<size_t>(std::max(std::atoi(options[i + 1]), 0));
        } else {
            engineOptions.push_back(options[i]);
            engineOptions.push_back(options[i + 1]);
        }
    }
    engineOptions.push_back(nullptr);

    struct mg_init_data init = {};
    init.callbacks = &callbacks;
    init.user_data = this;
    init.configuration_options = engineOptions.data();

    char errorText[256] = {0};
    struct mg_error_data error = {};
    error.text = errorText;
    error.text_buffer_size = sizeof(errorText);

    storeContext(context, mg_start2(&init, &error));
    if (context != nullptr) {
        registerConnectionLimits(context, limits);
    }
    if (context == nullptr) {
        std::string message = "null context when constructing CivetServer. "
                              "Possible problem binding to port. Error: ";
        message += errorText;
        throw CivetException(message.c_str());
    }
}

namespace {
// The option texts as the null-terminated array the library takes; the
// pointers stay valid while `options` lives.
std::vector<const char*> optionArray(const std::vector<std::string>& options) {
    std::vector<const char*> array;
    array.reserve(options.size() + 1);
    for (const std::string& option : options) {
        array.push_back(option.c_str());
    }
    array.push_back(nullptr);
    return array;
}
} // namespace

CivetServer::CivetServer(const std::vector<std::string>& options,
                         const struct CivetCallbacks* callbacks, const void* UserContextIn)
    : CivetServer(optionArray(options).data(), callbacks, UserContextIn) {}

CivetServer::CivetServer(const CivetServer& other) = default;
CivetServer& CivetServer::operator=(const CivetServer& other) = default;

CivetServer::~CivetServer() {
    close();
}

void CivetServer::close() {
    close(-1);
}

void CivetServer::close(int graceMs) {
    if (context == nullptr)
        return;
    // Stopping the library mid-answer would cut answers short: close the
    // gate first and let every call under way finish, except those still
    // receiving a body. Stopping the library then makes their reads fail.
    __atomic_store_n(&stopping, 1, __ATOMIC_SEQ_CST);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(graceMs);
    while (__atomic_load_n(&activeCalls, __ATOMIC_SEQ_CST) >
               __atomic_load_n(&receivingBodies, __ATOMIC_SEQ_CST) &&
           (graceMs < 0 || std::chrono::steady_clock::now() < deadline))
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    mg_stop(context);
    unregisterConnectionLimits(context);
    storeContext(context, nullptr);
}

void CivetServer::addHandler(const std::string& uri, CivetHandler* handler) {
    mg_set_request_handler(context, uri.c_str(), requestHandler, handler);
}

void CivetServer::addHandler(const std::string& uri, CivetHandler& handler) {
    addHandler(uri, &handler);
}

void CivetServer::addConcurrentHandler(const std::string& uri, CivetHandler* handler) {
    mg_set_request_handler(context, uri.c_str(), concurrentRequestHandler, handler);
}

void CivetServer::addWebSocketHandler(const std::string& uri, CivetWebSocketHandler& handler) {
    addWebSocketHandler(uri, &handler);
}

void CivetServer::addAuthHandler(const std::string& uri, CivetAuthHandler& handler) {
    addAuthHandler(uri, &handler);
}

const struct mg_context* CivetServer::getContext() const {
    return context;
}

const void* CivetServer::getUserContext() const {
    return UserContext;
}

void CivetServer::addWebSocketHandler(const std::string& uri, CivetWebSocketHandler* handler) {
    mg_set_websocket_handler(context, uri.c_str(), webSocketConnectionHandler,
                             webSocketReadyHandler, webSocketDataHandler, webSocketCloseHandler,
                             handler);
}

void CivetServer::addAuthHandler(const std::string& uri, CivetAuthHandler* handler) {
    mg_set_auth_handler(context, uri.c_str(), authHandler, handler);
}

void CivetServer::removeHandler(const std::string& uri) {
    mg_set_request_handler(context, uri.c_str(), nullptr, nullptr);
}

void CivetServer::removeWebSocketHandler(const std::string& uri) {
    mg_set_websocket_handler(context, uri.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
}

void CivetServer::removeAuthHandler(const std::string& uri) {
    mg_set_auth_handler(context, uri.c_str(), nullptr, nullptr);
}

std::vector<int> CivetServer::getListeningPorts() {
    std::vector<struct mg_server_port> full = getListeningPortsFull();
    std::vector<int> ports;
    ports.reserve(full.size());
    for (const struct mg_server_port& port : full) {
        ports.push_back(port.port);
    }
    return ports;
}

std::vector<struct mg_server_port> CivetServer::getListeningPortsFull() {
    std::vector<struct mg_server_port> ports(8);
    for (;;) {
        const int count =
            mg_get_server_ports(context, static_cast<int>(ports.size()), ports.data());
        if (count < static_cast<int>(ports.size())) {
            ports.resize(count < 0 ? 0 : static_cast<size_t>(count));
            return ports;
        }
        ports.resize(ports.size() * 2);
    }
}

void CivetServer::setBodyPrefetch(size_t maxBytes, int deadlineMs) {
    prefetchMax = maxBytes;
    prefetchDeadlineMs = deadlineMs;
}

namespace {
// Receives the current request's body within the server's limits: a
// connection that has not authenticated gets the small cap and what is left
// of its head deadline. A refused body is not read to its end after the
// answer: the engine would otherwise drain whatever length the client
// declared.
BodyPrefetch receiveWithinLimits(struct mg_connection* conn, size_t maxBytes, int deadlineMs,
                                 std::string& body) {
    const int left = tolvane_unauthenticated_ms_left(conn);
    if (left >= 0) {
        const size_t cap = waitingBodyBytes(mg_get_context(conn));
        maxBytes = cap > 0 ? std::min(maxBytes, cap) : maxBytes;
        deadlineMs = std::max(left, 1);
    }
    const BodyPrefetch outcome = receiveRequestBody(conn, maxBytes, deadlineMs, body);
    if (outcome == BodyPrefetch::TooLarge || outcome == BodyPrefetch::Incomplete) {
        mg_disable_connection_keep_alive(conn);
    }
    return outcome;
}
} // namespace

BodyPrefetch CivetServer::prefetchedBody(struct mg_connection* conn, std::string& body) {
    body.clear();
    const struct mg_request_info* ri = mg_get_request_info(conn);
    if (ri == nullptr || ri->user_data == nullptr) {
        return BodyPrefetch::None;
    }
    CivetServer* me = static_cast<CivetServer*>(ri->user_data);
    if (contextOf(me) == nullptr) {
        return BodyPrefetch::None;
    }
    BodyPrefetch outcome = BodyPrefetch::None;
    bool onDemand = false;
    mg_lock_context(contextOf(me));
    auto found = me->connections.find(conn);
    if (found != me->connections.end()) {
        outcome = found->second.prefetch;
        onDemand = found->second.bodyOnDemand;
        if (outcome == BodyPrefetch::Complete) {
            body = found->second.body;
        }
    }
    mg_unlock_context(contextOf(me));
    if (!onDemand) {
        return outcome;
    }
    // The first ask of a concurrent handler, after its own checks: only now
    // is the body worth receiving. No lock is held while it arrives.
    outcome = receiveWithinLimits(conn, me->prefetchMax, me->prefetchDeadlineMs, body);
    mg_lock_context(contextOf(me));
    CivetConnection& record = me->connections[conn];
    record.bodyOnDemand = false;
    record.prefetch = outcome;
    record.body = body;
    mg_unlock_context(contextOf(me));
    return outcome;
}

bool CivetServer::callHoldsGlobalLock(struct mg_connection* conn) {
    const struct mg_request_info* ri = mg_get_request_info(conn);
    if (ri == nullptr || ri->user_data == nullptr) {
        return false;
    }
    CivetServer* me = static_cast<CivetServer*>(ri->user_data);
    if (contextOf(me) == nullptr) {
        return false;
    }
    mg_lock_context(contextOf(me));
    auto found = me->connections.find(conn);
    const bool holds = found != me->connections.end() && found->second.holdsGlobalLock;
    mg_unlock_context(contextOf(me));
    return holds;
}

namespace {
// Counts one call through the stop gate for as long as it lives.
class ActiveCall {
  public:
    explicit ActiveCall(int& counter) : counter_(counter) {
        __atomic_add_fetch(&counter_, 1, __ATOMIC_SEQ_CST);
    }
    ~ActiveCall() { __atomic_sub_fetch(&counter_, 1, __ATOMIC_SEQ_CST); }
    ActiveCall(const ActiveCall&) = delete;
    ActiveCall& operator=(const ActiveCall&) = delete;

  private:
    int& counter_;
};
} // namespace

CivetServer::BodyReceipt::BodyReceipt(struct mg_connection* conn) : server_(serverOf(conn)) {
    if (server_)
        __atomic_add_fetch(&server_->receivingBodies, 1, __ATOMIC_SEQ_CST);
}

CivetServer::BodyReceipt::~BodyReceipt() {
    if (server_)
        __atomic_sub_fetch(&server_->receivingBodies, 1, __ATOMIC_SEQ_CST);
}

bool CivetServer::BodyReceipt::stopping() const {
    return server_ && __atomic_load_n(&server_->stopping, __ATOMIC_SEQ_CST) != 0;
}

int CivetServer::requestHandler(struct mg_connection* conn, void* cbdata) {
    return handleRequest(conn, cbdata, true);
}

int CivetServer::concurrentRequestHandler(struct mg_connection* conn, void* cbdata) {
    return handleRequest(conn, cbdata, false);
}

int CivetServer::handleRequest(struct mg_connection* conn, void* cbdata, bool serialised) {
    CivetServer* me = serverOf(conn);
    // A request can arrive before the constructor has stored the context.
    if (contextOf(me) == nullptr) {
        return 0;
    }
    // While stopping, a new request is closed with no byte written: the
    // client sees a refused request, never a partial or foreign answer.
    ActiveCall call(me->activeCalls);
    if (__atomic_load_n(&me->stopping, __ATOMIC_SEQ_CST) != 0) {
        mg_disable_connection_keep_alive(conn);
        return 1;
    }

    CivetHandler* handler = static_cast<CivetHandler*>(cbdata);
    const struct mg_request_info* ri = mg_get_request_info(conn);
    const Operation* op = chooseOperation(ri->request_method, mg_get_header(conn, "Content-Type"));

    // A serialised handler's body is received before the lock so a slow
    // sender holds up only its own request; a concurrent handler receives it
    // when it first asks, after its own checks of the head, so a body nobody
    // was entitled to send is never awaited or buffered. Uploads stream to
    // disk in the handler, and requests no operation takes stay with the
    // engine untouched.
    const bool receive = me->prefetchMax > 0 && handler != nullptr && op != nullptr && !op->upload;
    BodyPrefetch outcome = BodyPrefetch::None;
    std::string body;
    if (receive && serialised) {
        outcome = receiveWithinLimits(conn, me->prefetchMax, me->prefetchDeadlineMs, body);
    }

    mg_lock_context(contextOf(me));
    CivetConnection& record = me->connections[conn];
    record = CivetConnection();
    record.prefetch = outcome;
    record.body = std::move(body);
    record.bodyOnDemand = receive && !serialised;
    record.holdsGlobalLock = serialised;
    mg_unlock_context(contextOf(me));

    if (handler == nullptr) {
        return 0;
    }
    int result;
    if (serialised) {
        GlobalLockGuard lock;
        result = dispatch(op, handler, me, conn);
    } else {
        result = dispatch(op, handler, me, conn);
    }
    // A body left on the wire is not drained after the answer: its sender
    // may be slow, or may never send it.
    if (!tolvane_request_body_buffered(conn)) {
        mg_disable_connection_keep_alive(conn);
    }
    return result;
}

int CivetServer::authHandler(struct mg_connection* conn, void* cbdata) {
    CivetServer* me = serverOf(conn);
    if (contextOf(me) == nullptr) {
        return 0;
    }
    mg_lock_context(contextOf(me));
    me->connections[conn] = CivetConnection();
    mg_unlock_context(contextOf(me));

    CivetAuthHandler* handler = static_cast<CivetAuthHandler*>(cbdata);
    if (handler == nullptr) {
        return 0;
    }
    return handler->authorize(me, conn) ? 1 : 0;
}

int CivetServer::webSocketConnectionHandler(const struct mg_connection* conn, void* cbdata) {
    CivetServer* me = serverOf(conn);
    if (contextOf(me) == nullptr) {
        return 0;
    }
    CivetWebSocketHandler* handler = static_cast<CivetWebSocketHandler*>(cbdata);
    if (handler == nullptr) {
        return 1;
    }
    // The library takes 0 as "accept".
    return handler->handleConnection(me, conn) ? 0 : 1;
}

void CivetServer::webSocketReadyHandler(struct mg_connection* conn, void* cbdata) {
    CivetServer* me = serverOf(conn);
    if (contextOf(me) == nullptr) {
        return;
    }
    CivetWebSocketHandler* handler = static_cast<CivetWebSocketHandler*>(cbdata);
    if (handler != nullptr) {
        handler->handleReadyState(me, conn);
    }
}

int CivetServer::webSocketDataHandler(struct mg_connection* conn, int bits, char* data,
                                      size_t data_len, void* cbdata) {
    CivetServer* me = serverOf(conn);
    if (contextOf(me) == nullptr) {
        return 0;
    }
    CivetWebSocketHandler* handler = static_cast<CivetWebSocketHandler*>(cbdata);
    if (handler == nullptr) {
        return 1;
    }
    return handler->handleData(me, conn, bits, data, data_len) ? 1 : 0;
}

void CivetServer::webSocketCloseHandler(const struct mg_connection* conn, void* cbdata) {
    CivetServer* me = serverOf(conn);
    if (contextOf(me) == nullptr) {
        return;
    }
    CivetWebSocketHandler* handler = static_cast<CivetWebSocketHandler*>(cbdata);
    if (handler != nullptr) {
        handler->handleClose(me, conn);
    }
}

void CivetServer::closeHandler(const struct mg_connection* conn) {
    CivetServer* me = static_cast<CivetServer*>(mg_get_user_data(mg_get_context(conn)));
    assert(me != nullptr);
    if (contextOf(me) == nullptr) {
        return;
    }
    if (me->userCloseHandler != nullptr) {
        me->userCloseHandler(conn);
    }
    mg_lock_context(contextOf(me));
    me->connections.erase(conn);
    mg_unlock_context(contextOf(me));
}
