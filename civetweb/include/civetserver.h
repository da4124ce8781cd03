// Object layer over the HTTP library, exported to plug-ins. Members and
// behaviour follow the library's published C++ wrapper, plus:
//  - CivetHandler::handleFilePost for multipart/form-data POSTs;
//  - requestHandler's method table, run under the process-wide lock
//    (mg_global_lock), so handler calls of the whole process run one at a time;
//  - bodies of non-upload requests received before that lock is taken.
#ifndef TOLVANE_CIVETSERVER_H
#define TOLVANE_CIVETSERVER_H

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "civetweb.h"
#include "civetweb_ext.h"

class CivetServer;

// Members are defined out of line so that the program exports them.
class CivetException : public std::runtime_error {
  public:
    explicit CivetException(const char* msg);
    CivetException(const CivetException& other);
    CivetException(CivetException&& other) noexcept;
    CivetException& operator=(const CivetException& other);
    CivetException& operator=(CivetException&& other) noexcept;
    ~CivetException() override;
};

// Slot order matters to plug-ins: destructor, then per method the form with a
// status code followed by the plain form.
class CivetHandler {
  public:
    CivetHandler();
    CivetHandler(const CivetHandler& other);
    CivetHandler& operator=(const CivetHandler& other);
    virtual ~CivetHandler();

    virtual bool handleGet(CivetServer* server, struct mg_connection* conn, int* status_code);
    virtual bool handleGet(CivetServer* server, struct mg_connection* conn);
    virtual bool handlePost(CivetServer* server, struct mg_connection* conn, int* status_code);
    virtual bool handlePost(CivetServer* server, struct mg_connection* conn);
    virtual bool handleFilePost(CivetServer* server, struct mg_connection* conn, int* status_code);
    virtual bool handleFilePost(CivetServer* server, struct mg_connection* conn);
    virtual bool handleHead(CivetServer* server, struct mg_connection* conn, int* status_code);
    virtual bool handleHead(CivetServer* server, struct mg_connection* conn);
    virtual bool handlePut(CivetServer* server, struct mg_connection* conn, int* status_code);
    virtual bool handlePut(CivetServer* server, struct mg_connection* conn);
    virtual bool handleDelete(CivetServer* server, struct mg_connection* conn, int* status_code);
    virtual bool handleDelete(CivetServer* server, struct mg_connection* conn);
    virtual bool handleOptions(CivetServer* server, struct mg_connection* conn, int* status_code);
    virtual bool handleOptions(CivetServer* server, struct mg_connection* conn);
    virtual bool handlePatch(CivetServer* server, struct mg_connection* conn, int* status_code);
    virtual bool handlePatch(CivetServer* server, struct mg_connection* conn);
};

class CivetAuthHandler {
  public:
    CivetAuthHandler();
    CivetAuthHandler(const CivetAuthHandler& other);
    CivetAuthHandler& operator=(const CivetAuthHandler& other);
    virtual ~CivetAuthHandler();
    virtual bool authorize(CivetServer* server, struct mg_connection* conn) = 0;
};

class CivetWebSocketHandler {
  public:
    CivetWebSocketHandler();
    CivetWebSocketHandler(const CivetWebSocketHandler& other);
    CivetWebSocketHandler& operator=(const CivetWebSocketHandler& other);
    virtual ~CivetWebSocketHandler();
    virtual bool handleConnection(CivetServer* server, const struct mg_connection* conn);
    virtual void handleReadyState(CivetServer* server, struct mg_connection* conn);
    virtual bool handleData(CivetServer* server, struct mg_connection* conn, int bits, char* data,
                            size_t data_len);
    virtual void handleClose(CivetServer* server, const struct mg_connection* conn);
};

// The library's callback table with every member zero.
struct CivetCallbacks : public mg_callbacks {
    CivetCallbacks();
    CivetCallbacks(const CivetCallbacks& other) = default;
    CivetCallbacks& operator=(const CivetCallbacks& other);
    CivetCallbacks& operator=(CivetCallbacks&& other) noexcept;
};

// Outcome of receiving a request body before the handler lock is taken.
enum class BodyPrefetch {
    None,       // not received ahead (upload, or no handler call yet)
    Complete,   // the whole body is in the connection record
    TooLarge,   // longer than the configured cap: answer 413
    Incomplete, // client gone or deadline passed: answer 400
};

// Every member is defined out of line so that the program exports it.
class CivetServer {
  public:
    CivetServer(const char** options, const struct CivetCallbacks* callbacks = 0,
                const void* UserContext = 0);
    CivetServer(const std::vector<std::string>& options, const struct CivetCallbacks* callbacks = 0,
                const void* UserContext = 0);
    CivetServer(const CivetServer& other);
    CivetServer& operator=(const CivetServer& other);
    virtual ~CivetServer();

    // Stops the server: requests arriving from now on are closed without an
    // answer, the calls under way finish and are answered whole, then the
    // library stops its threads. `graceMs` (negative: no limit) bounds the
    // wait for those calls; bodies still being received are never waited for,
    // since a stalled sender would hold the stop up: they are cut off.
    void close();
    void close(int graceMs);

    // Marks a request body being received by a handler for as long as it
    // lives, so that a stop cuts it off instead of waiting for it.
    class BodyReceipt {
      public:
        explicit BodyReceipt(struct mg_connection* conn);
        ~BodyReceipt();
        BodyReceipt(const BodyReceipt&) = delete;
        BodyReceipt& operator=(const BodyReceipt&) = delete;
        // Whether a stop has begun: a body received whole must then not be
        // acted on, since its answer could no longer be sent.
        bool stopping() const;

      private:
        CivetServer* server_;
    };
    const struct mg_context* getContext() const;

    void addHandler(const std::string& uri, CivetHandler* handler);
    void addHandler(const std::string& uri, CivetHandler& handler);
    // A handler whose calls are not serialised: it runs while other requests
    // run and takes the process-wide lock itself around what needs it.
    void addConcurrentHandler(const std::string& uri, CivetHandler* handler);
    void addWebSocketHandler(const std::string& uri, CivetWebSocketHandler* handler);
    void addWebSocketHandler(const std::string& uri, CivetWebSocketHandler& handler);
    void removeHandler(const std::string& uri);
    void removeWebSocketHandler(const std::string& uri);
    void addAuthHandler(const std::string& uri, CivetAuthHandler* handler);
    void addAuthHandler(const std::string& uri, CivetAuthHandler& handler);
    void removeAuthHandler(const std::string& uri);

    std::vector<int> getListeningPorts();
    std::vector<struct mg_server_port> getListeningPortsFull();

    static int getCookie(struct mg_connection* conn, const std::string& cookieName,
                         std::string& cookieValue);
    static const char* getHeader(struct mg_connection* conn, const std::string& headerName);
    static const char* getMethod(struct mg_connection* conn);
    static bool getParam(struct mg_connection* conn, const char* name, std::string& dst,
                         size_t occurrence = 0);
    static bool getParam(const std::string& data, const char* name, std::string& dst,
                         size_t occurrence = 0);
    static bool getParam(const char* data, size_t data_len, const char* name, std::string& dst,
                         size_t occurrence = 0);
    static std::string getPostData(struct mg_connection* conn, size_t maxlen = 64 * 1024);
    static void urlDecode(const std::string& src, std::string& dst,
                          bool is_form_url_encoded = true);
    static void urlDecode(const char* src, size_t src_len, std::string& dst,
                          bool is_form_url_encoded = true);
    static void urlDecode(const char* src, std::string& dst, bool is_form_url_encoded = true);
    static void urlEncode(const std::string& src, std::string& dst, bool append = false);
    static void urlEncode(const char* src, std::string& dst, bool append = false);
    static void urlEncode(const char* src, size_t src_len, std::string& dst, bool append = false);

    const void* getUserContext() const;

    // Receiving bodies outside the handler lock (non-upload requests only):
    // ahead of a serialised handler, on the first ask of a concurrent one.
    // `maxBytes` caps a body; `deadlineMs` bounds the whole receipt. A
    // connection that has not authenticated has smaller limits of its own.
    void setBodyPrefetch(size_t maxBytes, int deadlineMs);
    // The outcome for this connection's current request, and the body when
    // Complete. Call from a handler operation.
    static BodyPrefetch prefetchedBody(struct mg_connection* conn, std::string& body);
    // Whether the connection's current handler call runs under the
    // process-wide lock (a handler added with addHandler).
    static bool callHoldsGlobalLock(struct mg_connection* conn);

  protected:
    class CivetConnection {
      public:
        std::vector<char> postData;
        BodyPrefetch prefetch = BodyPrefetch::None;
        std::string body;
        bool bodyOnDemand = false; // received on the handler's first ask
        bool holdsGlobalLock = false;
    };

    struct mg_context* context = nullptr;
    std::map<const struct mg_connection*, CivetConnection> connections;
    const void* UserContext = nullptr;
    size_t prefetchMax = 0; // 0: bodies are not received ahead
    int prefetchDeadlineMs = 0;
    // Stop gate (accessed atomically): once `stopping` is set, new requests
    // are closed without an answer while the calls under way finish.
    int stopping = 0;
    int activeCalls = 0;
    int receivingBodies = 0; // of activeCalls, those inside a BodyReceipt

  private:
    // The context as the library's threads see it (null until stored).
    static struct mg_context* contextOf(const CivetServer* server);
    static int requestHandler(struct mg_connection* conn, void* cbdata);
    static int concurrentRequestHandler(struct mg_connection* conn, void* cbdata);
    static int handleRequest(struct mg_connection* conn, void* cbdata, bool serialised);
    static int webSocketConnectionHandler(const struct mg_connection* conn, void* cbdata);
    static void webSocketReadyHandler(struct mg_connection* conn, void* cbdata);
    static int webSocketDataHandler(struct mg_connection* conn, int bits, char* data,
                                    size_t data_len, void* cbdata);
    static void webSocketCloseHandler(const struct mg_connection* conn, void* cbdata);
    static int authHandler(struct mg_connection* conn, void* cbdata);
    static void closeHandler(const struct mg_connection* conn);

    void (*userCloseHandler)(const struct mg_connection* conn) = nullptr;
};

#endif
