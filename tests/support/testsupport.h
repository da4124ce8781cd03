// Support for end-to-end tests: temporary install trees, the real program (or
// any program) as a child process, raw HTTP/HTTPS exchanges and kept
// connections over loopback, held ports, and a canned HTTP peer.
#ifndef TOLVANE_TESTSUPPORT_H
#define TOLVANE_TESTSUPPORT_H

#include <sys/types.h>

#include <atomic>
#include <csignal>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

struct ssl_session_st; // OpenSSL's SSL_SESSION

namespace ts {

// Built artifacts.
std::string serverBinary();
std::string scriptedPlugin(const std::string& variant = ""); // "", "NoGet", "NoInit", ...
std::string captureLogPlugin();
std::string storagePlugin();    // the bundled resource plug-in
std::string logServicePlugin(); // the bundled log plug-in
std::string testCertificate();  // PEM with certificate and key
std::string sourceDir();

// A loopback TCP port that was free a moment ago.
int freePort();
// Polls `done` until it holds (true) or `timeoutMs` has passed (false): the one
// way tests wait for something they can observe.
bool waitUntil(const std::function<bool()>& done, int timeoutMs = 15000);
std::string makeTempDir(const std::string& prefix);
std::string readFile(const std::string& path);                    // "" when missing
void writeFile(const std::string& path, const std::string& data); // its folder made as needed
std::vector<std::string> lines(const std::string& text);          // without their line feeds
bool fileExists(const std::string& path);
void removeTree(const std::string& path);

// A private temporary directory, removed on destruction unless
// $TOLVANE_KEEP_TEST_DIRS is set.
class TempDir {
  public:
    explicit TempDir(const std::string& prefix = "tolvane-unit")
        : path_(makeTempDir(prefix) + "/") {}
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; } // ends with '/'

  private:
    std::string path_;
};

struct InstallOptions {
    std::string resourcePlugin =
        scriptedPlugin();                       // copied as WebServerAbstractionModule.so; "" none
    std::string logPlugin = captureLogPlugin(); // copied as Plugins/LogServicePlugin.so; "" none
    bool tls = false;                           // default configuration: HTTPS or plain
    int port = 0;                               // 0: a free port
    int debugMask = 0;                          // RedfishDebugMask of the default configuration
    bool certificate = true;                    // copy the test certificate as server.pem
    // Every test client comes from one loopback address, unlike real clients:
    // the cap is raised to let the load tests' crowds in.
    int connectionsPerClient = 256;       // MaximumConnectionsPerClient
    int unauthenticatedConnections = 256; // MaximumUnauthenticatedConnections, likewise
    std::string extraConfig; // members appended to the default configuration, e.g. "\"A\":1"
};

// The scripted plug-in's control folder `dir` (ends with '/'): it answers
// calls matching `key` ("GET /redfish/v1/X", "GET", or "*") with `reply`
// verbatim, sleeping `delayMs` in the call, and records every call.
void setScriptedReply(const std::string& dir, const std::string& key, const std::string& reply,
                      int delayMs = 0);
std::vector<nlohmann::json> scriptedCalls(const std::string& dir); // in order

// root/ (install path), root/RedfishServer/ (program, plug-ins, configuration,
// certificate), root/logs/ (log directory). Removed on destruction unless
// $TOLVANE_KEEP_TEST_DIRS is set.
class InstallTree {
  public:
    explicit InstallTree(const InstallOptions& options = InstallOptions());
    ~InstallTree();
    InstallTree(const InstallTree&) = delete;
    InstallTree& operator=(const InstallTree&) = delete;

    std::string root;      // ends with '/'
    std::string serverDir; // root + "RedfishServer/"
    std::string logDir;    // root + "logs/"
    std::string scriptDir; // control folder of the scripted plug-in
    // Moved by ServerProcess::waitReady when another process bound it first.
    mutable int port = 0;
    bool tls = false;
    bool scripted = false; // the resource plug-in is the scripted one

    std::string defaultConfig(const InstallOptions& options) const;
    void writeConfig(const std::string& json) const;

    // Scripted plug-in: as setScriptedReply and scriptedCalls in scriptDir.
    void setReply(const std::string& key, const std::string& reply, int delayMs = 0) const {
        setScriptedReply(scriptDir, key, reply, delayMs);
    }
    void clearReplies() const;
    std::vector<nlohmann::json> calls() const { return scriptedCalls(scriptDir); }
    void clearCalls() const;

    std::string capturedLog() const;  // lines received by the capture log plug-in
    std::string outLog() const;       // RedfishServer.out.log
    std::string traceLog() const;     // RedfishClientTrace.log
    std::string webServerLog() const; // the engine's error log
    std::map<std::string, std::string> environment() const;
};

// A program as a child process: `argv[0]` is its path; it runs in `dir` ("":
// here) with `env` added to the environment, its standard input empty, its
// standard output and error in `outputPath` ("": a file of its own, removed
// with it). Killed on destruction while it still runs.
class Process {
  public:
    explicit Process(std::vector<std::string> argv, std::map<std::string, std::string> env = {},
                     const std::string& dir = "", const std::string& outputPath = "");
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    bool running();
    // Waits for the process to end; its exit code, 128+signal when killed, -1
    // when it still runs after the time.
    int waitExit(int timeoutMs = 15000);
    // Sends `sig` and waits; result as waitExit.
    int stop(int sig = SIGTERM, int timeoutMs = 15000);
    std::string output() const; // stdout and stderr so far

    pid_t pid = -1;

  private:
    std::string outputPath;
    bool ownOutput = false;
    int status = -1;
    bool reaped = false;
};

// Runs a program to its end (killed after `timeoutMs`): its exit code as
// Process::waitExit, and its output.
std::pair<int, std::string> runToEnd(const std::vector<std::string>& argv, int timeoutMs = 60000);

// The program as a child process. By default it runs in service mode, whose
// stop control is SIGTERM; "run" serves until the process is killed.
// On destruction a process still running is stopped: in a sanitizer build
// through its own stop path (so the leak checker sees the end), otherwise by
// SIGKILL. Any sanitizer report in its output then fails the current test.
class ServerProcess {
  public:
    ServerProcess(const InstallTree& tree, std::vector<std::string> args = {},
                  std::map<std::string, std::string> extraEnv = {});
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    // Waits until the request handler answers (the engine alone answers 404
    // before it is registered); false, with the server's output on standard
    // error, when the process ended or the time ran out. A port that another
    // process took between its choice and the bind is not the test's fault:
    // the program is started again on another one (the tree's port moves).
    bool waitReady(int timeoutMs = 15000);
    // As Process's.
    int waitExit(int timeoutMs = 15000) { return process->waitExit(timeoutMs); }
    int stop(int sig = SIGTERM, int timeoutMs = 15000) { return process->stop(sig, timeoutMs); }
    bool running() { return process->running(); }
    std::string output() const { return process->output(); }

    pid_t pid = -1;
    int port = 0;

  private:
    void spawn();
    bool rebindElsewhere(); // after an exit for a port in use: true once restarted

    const InstallTree& tree;
    std::vector<std::string> args;
    std::map<std::string, std::string> env;
    std::unique_ptr<Process> process;
    size_t outLogOffset = 0;    // RedfishServer.out.log's size before the start
    size_t engineLogOffset = 0; // the engine's log's, likewise
    int rebinds = 0;
    std::string callsPath;  // scripted plug-in's calls file, "" without it
    size_t callsOffset = 0; // its size when this process started
    std::string outputPath;
    bool tls = false;
    bool stopsOnSigterm = false; // service mode
};

struct Response {
    bool complete = false; // a status line and header block were received
    int status = -1;
    std::string reason;
    std::string statusLine;  // without CR LF
    std::string headerBlock; // from the status line to the blank line, CR LFs included
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    std::string raw;
    // First header of that name (ignoring case); "" when absent.
    std::string header(const std::string& name) const;
    bool hasHeader(const std::string& name) const;
};

struct ConnectOptions {
    bool tls = false;
    int timeoutMs = 10000;             // connect, handshake and each send
    std::string address = "127.0.0.1"; // the server's; "::1" for IPv6
    std::string source;                // the own end's loopback address; "" any
    int receiveBuffer = 0;             // SO_RCVBUF when above 0
    int tlsVersion = 0;                // TLS: only this version (TLS1_2_VERSION, ...); 0 any
    std::string ciphers;               // TLS: the cipher list offered; "" OpenSSL's default
    bool tlsTickets = true;            // TLS: accept session tickets
    std::shared_ptr<::ssl_session_st> tlsSession; // TLS: a session to offer for resumption
};

// Options of a plain connection from another loopback address: a second client.
ConnectOptions fromAddress(const std::string& source = "127.0.0.2");

// A client connection that stays open across reads and writes: plain or TLS,
// IPv4 or IPv6. TLS offers every protocol version OpenSSL has (security level
// 0) and checks no certificate: what the server accepts is the server's choice.
class Connection {
  public:
    explicit Connection(int port, const ConnectOptions& options = ConnectOptions());
    Connection(int port, bool tls);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // How the last read ended.
    enum class End { Open, Closed, TimedOut, Failed };

    bool connected() const;              // connected, and for TLS the handshake done
    bool send(const std::string& bytes); // every byte; false when it broke first
    void shutdownWrite();                // the server sees the end of the stream
    // Reads until the server closes or the time runs out.
    std::string readAll(int timeoutMs = 10000);
    // Reads until `count` bytes (or more) came, the server closed or the time ran out.
    std::string readAtLeast(size_t count, int timeoutMs = 10000);
    // One answer: its header block and Content-Length body; "" when incomplete.
    std::string readResponse(int timeoutMs = 10000);
    End end() const { return end_; }
    void close();
    void abort(); // closes with a reset instead of an orderly end

    // TLS: the protocol version and suite agreed, the server's certificate (PEM).
    std::string tlsVersion() const;
    std::string tlsCipher() const;
    std::string peerCertificate() const;
    // TLS: the session to offer a later connection (ended in order by close)
    // and whether this one resumed the session it offered.
    std::shared_ptr<::ssl_session_st> tlsSession() const;
    bool tlsResumed() const;

  private:
    bool readSome(std::string& into, long long deadlineMs);

    struct Tls;
    std::unique_ptr<Tls> tls_;
    int fd_ = -1;
    std::string pending_;
    End end_ = End::Open;
};

// Listens on a loopback port so that nothing else can bind it; port 0 takes a
// free one. `held` is false when the port could not be taken.
class PortHolder {
  public:
    explicit PortHolder(int port = 0, const std::string& address = "127.0.0.1");
    ~PortHolder();
    PortHolder(const PortHolder&) = delete;
    PortHolder& operator=(const PortHolder&) = delete;
    bool held() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    int port = 0;

  private:
    int fd_ = -1;
};

// A loopback HTTP server standing in for a peer of the program (an image
// source, an event subscriber, a load tool's target): it takes one connection
// at a time, reads the request (header block and Content-Length body), sends
// what the responder returns and closes; a responder returning nothing keeps
// the connection open, unanswered, until the server is destroyed.
class CannedServer {
  public:
    // Called with the connection's number (from 0) and the request's bytes.
    using Responder =
        std::function<std::optional<std::string>(int connection, const std::string& request)>;

    explicit CannedServer(Responder responder);
    ~CannedServer();
    CannedServer(const CannedServer&) = delete;
    CannedServer& operator=(const CannedServer&) = delete;

    int port() const { return holder.port; }
    std::string url(const std::string& path) const; // http://127.0.0.1:port + path
    int connections() const { return accepted.load(); }
    std::vector<std::string> requests() const;

  private:
    void serve();

    Responder responder;
    PortHolder holder;
    std::atomic<bool> stopping{false};
    std::atomic<int> accepted{0};
    mutable std::mutex mutex;
    std::vector<std::string> received;
    std::vector<int> held;
    std::thread thread;
};

// Sends `bytes` (plain or TLS) and reads until the server closes or the time
// runs out; the raw bytes received.
std::string exchange(int port, const std::string& bytes, bool tls = false, int timeoutMs = 10000);
std::string exchange(int port, const std::string& bytes, const ConnectOptions& options);
Response parseResponse(const std::string& raw);

// `text` in base64 (Basic credentials).
std::string base64(const std::string& text);
// The "Authorization: Basic ..." header line of these credentials.
std::string basicAuth(const std::string& user, const std::string& password);

// One request with "Host", optional extra header lines ("Name: value"),
// "Content-Length" when there is a body, and "Connection: close": its bytes,
// and its answer.
std::string requestText(int port, const std::string& method, const std::string& target,
                        const std::vector<std::string>& headers = {}, const std::string& body = "");
Response request(int port, const std::string& method, const std::string& target,
                 const std::vector<std::string>& headers = {}, const std::string& body = "",
                 bool tls = false);

// A multipart/form-data body; parts are (name, filename or "", content).
struct FormPart {
    std::string name;
    std::string filename;
    std::string content;
    std::string contentType = "application/octet-stream";
};
std::string multipartBody(const std::string& boundary, const std::vector<FormPart>& parts);

// Install options of the program with the bundled plug-ins: plain HTTP
// unless `tls`, in `profile` ("Standard", "Classic"; "" the default one).
InstallOptions bundled(const std::string& profile = "", bool tls = false,
                       const std::string& extraConfig = "");

// The program with the bundled plug-ins, started by start().
class BundledServer {
  public:
    explicit BundledServer(const InstallOptions& options = bundled());
    // Starts the program (again, after a stop) and waits until it serves:
    // the plug-in, and with it the first password, is set up before the
    // handler answers. "" or why not, with the server's output.
    std::string start();
    std::string password() const; // the first administrator password, "" when none
    // A session login's whole answer.
    Response createSession(const std::string& user, const std::string& password) const;
    // A login; the token, "" when it failed (the status in *status).
    std::string login(const std::string& user, const std::string& password,
                      int* status = nullptr) const;
    // `token` is a session token, "Basic <base64>" credentials, or "" for
    // none; a body is sent as JSON unless `headers` give its Content-Type.
    Response send(const std::string& method, const std::string& target,
                  const std::string& token = "", const std::string& body = "",
                  std::vector<std::string> headers = {}) const;
    // A GET with one header line (credentials, typically).
    Response get(const std::string& target, const std::string& header) const;

    InstallTree tree;
    std::unique_ptr<ServerProcess> server;
};

} // namespace ts

#endif
