#include "testsupport.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace ts {

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

// First words of what the sanitizers write to standard error on a finding.
const char* const kSanitizerReports[] = {"ERROR: AddressSanitizer", "ERROR: LeakSanitizer",
                                         "runtime error:", "WARNING: ThreadSanitizer"};

// Command words that do not start the service: their process ends by itself
// or, for "run", only when killed.
const char* const kNonServiceWords[] = {"run", "install", "uninstall", "help"};

constexpr int kStopTimeoutMs = 30000;

// How the program says that it could not listen (output log) because the
// port was taken (the engine's log), and how often a start moves to another
// port for it.
const char* const kBindFailed = "Possible problem binding to port";
const char* const kPortInUse = "(Address already in use)";
constexpr int kRebindAttempts = 5;

bool startsService(const std::vector<std::string>& args) {
    for (const char* word : kNonServiceWords)
        if (!args.empty() && args[0] == word)
            return false;
    return true;
}

} // namespace

std::string serverBinary() {
    return TOLVANE_SERVER_BINARY;
}
std::string scriptedPlugin(const std::string& variant) {
    return std::string(TOLVANE_SCRIPTED_PLUGIN_DIR) + "/ScriptedPlugin" + variant + ".so";
}
std::string captureLogPlugin() {
    return TOLVANE_CAPTURE_LOG_PLUGIN;
}
std::string storagePlugin() {
    return TOLVANE_STORAGE_PLUGIN;
}
std::string logServicePlugin() {
    return TOLVANE_LOGSERVICE_PLUGIN;
}
std::string testCertificate() {
    return TOLVANE_TEST_CERT;
}
std::string sourceDir() {
    return TOLVANE_SOURCE_DIR;
}

int freePort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        throw std::runtime_error("socket failed");
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        throw std::runtime_error("bind failed");
    }
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}

std::string makeTempDir(const std::string& prefix) {
    std::string templ = (fs::temp_directory_path() / (prefix + "-XXXXXX")).string();
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    if (!::mkdtemp(buf.data()))
        throw std::runtime_error("mkdtemp failed");
    return std::string(buf.data());
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::string();
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void writeFile(const std::string& path, const std::string& data) {
    std::error_code ec;
    fs::create_directories(fs::path(path).parent_path(), ec);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << data;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

bool fileExists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

void removeTree(const std::string& path) {
    std::error_code ec;
    fs::remove_all(path, ec);
}

TempDir::~TempDir() {
    if (!std::getenv("TOLVANE_KEEP_TEST_DIRS"))
        removeTree(path_);
}

void setScriptedReply(const std::string& dir, const std::string& key, const std::string& reply,
                      int delayMs) {
    nlohmann::ordered_json script =
        nlohmann::ordered_json::parse(readFile(dir + "replies.json"), nullptr, false);
    if (!script.is_object())
        script = nlohmann::ordered_json::object();
    if (delayMs > 0)
        script[key] = {{"reply", reply}, {"delayMs", delayMs}};
    else
        script[key] = reply;
    std::string tmp = dir + "replies.json.tmp";
    writeFile(tmp, script.dump(2));
    fs::rename(tmp, dir + "replies.json");
}

std::vector<nlohmann::json> scriptedCalls(const std::string& dir) {
    std::vector<nlohmann::json> out;
    for (const std::string& line : lines(readFile(dir + "calls.jsonl"))) {
        nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
        if (!j.is_discarded())
            out.push_back(std::move(j));
    }
    return out;
}

// ---------------------------------------------------------------------------

InstallTree::InstallTree(const InstallOptions& options) {
    root = makeTempDir("tolvane-test") + "/";
    serverDir = root + "RedfishServer/";
    logDir = root + "logs/";
    scriptDir = serverDir + "scripted/";
    fs::create_directories(serverDir + "Plugins");
    fs::create_directories(logDir);
    fs::create_directories(scriptDir);
    port = options.port ? options.port : freePort();
    tls = options.tls;
    scripted = options.resourcePlugin.find("ScriptedPlugin") != std::string::npos;
    fs::copy_file(serverBinary(), serverDir + "tolvaneredfishserver",
                  fs::copy_options::overwrite_existing);
    if (!options.resourcePlugin.empty())
        fs::copy_file(options.resourcePlugin, serverDir + "WebServerAbstractionModule.so",
                      fs::copy_options::overwrite_existing);
    if (!options.logPlugin.empty())
        fs::copy_file(options.logPlugin, serverDir + "Plugins/LogServicePlugin.so",
                      fs::copy_options::overwrite_existing);
    if (options.certificate)
        fs::copy_file(testCertificate(), serverDir + "server.pem",
                      fs::copy_options::overwrite_existing);
    writeConfig(defaultConfig(options));
}

InstallTree::~InstallTree() {
    if (!std::getenv("TOLVANE_KEEP_TEST_DIRS"))
        removeTree(root);
}

std::string InstallTree::defaultConfig(const InstallOptions& options) const {
    std::ostringstream c;
    c << "{\n"
      << "  \"CommunicationProtocolHttps\": " << (options.tls ? "true" : "false") << ",\n"
      << "  \"CommunicationProtocolHttp\": " << (options.tls ? "false" : "true") << ",\n"
      << "  \"CommunicationPortHttps\": " << port << ",\n"
      << "  \"CommunicationPortHttp\": " << port << ",\n"
      << "  \"SessionTimeout\": 30000,\n"
      << "  \"MaximumConnectionsPerClient\": " << options.connectionsPerClient << ",\n"
      << "  \"MaximumUnauthenticatedConnections\": " << options.unauthenticatedConnections << ",\n"
      << "  \"RedfishDebugMask\": " << options.debugMask;
    if (!options.extraConfig.empty())
        c << ",\n  " << options.extraConfig;
    c << "\n}\n";
    return c.str();
}

void InstallTree::writeConfig(const std::string& json) const {
    writeFile(serverDir + "ServerConfiguration.json", json);
}

void InstallTree::clearReplies() const {
    std::error_code ec;
    fs::remove(scriptDir + "replies.json", ec);
}

void InstallTree::clearCalls() const {
    std::error_code ec;
    fs::remove(scriptDir + "calls.jsonl", ec);
}

std::string InstallTree::capturedLog() const {
    return readFile(logDir + "captured.log");
}
std::string InstallTree::outLog() const {
    return readFile(logDir + "RedfishServer.out.log");
}
std::string InstallTree::traceLog() const {
    return readFile(logDir + "RedfishClientTrace.log");
}
std::string InstallTree::webServerLog() const {
    return readFile(logDir + "/WebServer.log");
}

std::map<std::string, std::string> InstallTree::environment() const {
    return {{"TOLVANE_INSTALL_PATH", root},
            {"TOLVANE_LOG_DIR", logDir},
            {"SCRIPTED_PLUGIN_DIR", scriptDir},
            {"CAPTURE_LOG_FILE", logDir + "captured.log"}};
}

// ---------------------------------------------------------------------------

Process::Process(std::vector<std::string> argv, std::map<std::string, std::string> env,
                 const std::string& dir, const std::string& output)
    : outputPath(output) {
    if (outputPath.empty()) {
        outputPath = makeTempDir("tolvane-process") + "/output.txt";
        ownOutput = true;
    }
    pid = ::fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        int fd = ::open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd >= 0) {
            ::dup2(fd, 1);
            ::dup2(fd, 2);
            ::close(fd);
        }
        int devnull = ::open("/dev/null", O_RDONLY);
        if (devnull >= 0) {
            ::dup2(devnull, 0);
            ::close(devnull);
        }
        if (!dir.empty() && ::chdir(dir.c_str()) != 0)
            ::_exit(126);
        for (auto& kv : env)
            ::setenv(kv.first.c_str(), kv.second.c_str(), 1);
        std::vector<char*> args;
        for (auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
}

Process::~Process() {
    if (running()) {
        ::kill(pid, SIGKILL);
        waitExit(5000);
    }
    if (ownOutput)
        removeTree(fs::path(outputPath).parent_path().string());
}

bool Process::running() {
    if (reaped)
        return false;
    int st = 0;
    if (::waitpid(pid, &st, WNOHANG) == pid) {
        reaped = true;
        status = st;
        return false;
    }
    return true;
}

int Process::waitExit(int timeoutMs) {
    if (!waitUntil([&] { return !running(); }, timeoutMs))
        return -1;
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return -1;
}

int Process::stop(int sig, int timeoutMs) {
    if (running())
        ::kill(pid, sig);
    return waitExit(timeoutMs);
}

std::string Process::output() const {
    return readFile(outputPath);
}

std::pair<int, std::string> runToEnd(const std::vector<std::string>& argv, int timeoutMs) {
    Process p(argv);
    int code = p.waitExit(timeoutMs);
    if (code < 0)
        p.stop(SIGKILL, 5000);
    return {code, p.output()};
}

// ---------------------------------------------------------------------------

ServerProcess::ServerProcess(const InstallTree& tree, std::vector<std::string> args,
                             std::map<std::string, std::string> extraEnv)
    : port(tree.port), tree(tree), args(std::move(args)), env(tree.environment()), tls(tree.tls),
      stopsOnSigterm(startsService(this->args)) {
    if (tree.scripted) {
        callsPath = tree.scriptDir + "calls.jsonl";
        callsOffset = readFile(callsPath).size();
    }
    outputPath = tree.root + "process-output-" + std::to_string(::getpid()) + "-" +
                 std::to_string(freePort()) + ".txt";
    for (auto& kv : extraEnv)
        env[kv.first] = kv.second;
    spawn();
}

void ServerProcess::spawn() {
    outLogOffset = tree.outLog().size();
    engineLogOffset = tree.webServerLog().size();
    std::vector<std::string> argv = {tree.serverDir + "tolvaneredfishserver"};
    argv.insert(argv.end(), args.begin(), args.end());
    process.reset();
    process = std::make_unique<Process>(argv, env, tree.serverDir, outputPath);
    pid = process->pid;
}

bool ServerProcess::rebindElsewhere() {
    const std::string engineLog = tree.webServerLog();
    if (rebinds >= kRebindAttempts ||
        tree.outLog().find(kBindFailed, outLogOffset) == std::string::npos ||
        engineLog.find(kPortInUse, std::min(engineLogOffset, engineLog.size())) ==
            std::string::npos)
        return false;
    nlohmann::ordered_json config = nlohmann::ordered_json::parse(
        readFile(tree.serverDir + "ServerConfiguration.json"), nullptr, false);
    if (!config.is_object())
        return false;
    const int moved = freePort();
    for (const char* member : {"CommunicationPortHttp", "CommunicationPortHttps"})
        if (config.contains(member) && config[member] == tree.port)
            config[member] = moved;
    tree.writeConfig(config.dump(2));
    // The failed attempt's lines would only confuse tests that read the log.
    fs::resize_file(tree.logDir + "RedfishServer.out.log", outLogOffset);
    tree.port = port = moved;
    ++rebinds;
    spawn();
    return true;
}

ServerProcess::~ServerProcess() {
    if (running() && kSanitized && stopsOnSigterm) {
        ::kill(pid, SIGTERM);
        if (waitExit(kStopTimeoutMs) < 0)
            ADD_FAILURE() << "the server did not stop on SIGTERM:\n" << output();
    }
    if (running())
        stop(SIGKILL, 5000);
    const std::string text = output();
    for (const char* report : kSanitizerReports)
        if (text.find(report) != std::string::npos) {
            ADD_FAILURE() << "sanitizer report from the server:\n" << text;
            break;
        }
}

bool waitUntil(const std::function<bool()>& done, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        // The poll interval of every wait the tests make.
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

bool ServerProcess::waitReady(int timeoutMs) {
    bool ended = false;
    const bool ready = waitUntil(
        [&] {
            if (!running() && !rebindElsewhere())
                return ended = true;
            // A scripted plug-in records its initialisation; asking earlier
            // would only load the engine with requests it refuses. The probe
            // carries no session, so the handler refuses it before any plug-in
            // call or trace record that a test might count, and no Host
            // header, so the server learns no host name from it.
            if (!callsPath.empty() && readFile(callsPath).find("\"initializeAllPlugins\"",
                                                               callsOffset) == std::string::npos)
                return false;
            const Response r = parseResponse(
                exchange(port, "GET /redfish/v1/Systems HTTP/1.0\r\n\r\n", tls, 2000));
            return r.complete && r.status != 404 && running();
        },
        timeoutMs);
    if (ready && !ended)
        return true;
    std::fprintf(stderr, "The server on port %d is not ready (%s); its output:\n%s\n", port,
                 ended ? "it ended" : "time out", output().c_str());
    return false;
}

// ---------------------------------------------------------------------------

namespace {

long long nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// A stream socket connected to address:port (IPv4 or IPv6), its own end bound
// to `source` when given, with send and receive time-outs; -1 on failure.
int connectTo(const std::string& address, int port, int timeoutMs, const std::string& source,
              int receiveBuffer) {
    sockaddr_storage peer{}, local{};
    socklen_t length = 0;
    const bool v6 = address.find(':') != std::string::npos;
    auto fill = [&](const std::string& text, sockaddr_storage& into, int p) {
        if (v6) {
            auto* a = reinterpret_cast<sockaddr_in6*>(&into);
            a->sin6_family = AF_INET6;
            a->sin6_port = htons(static_cast<uint16_t>(p));
            length = sizeof *a;
            return ::inet_pton(AF_INET6, text.c_str(), &a->sin6_addr) == 1;
        }
        auto* a = reinterpret_cast<sockaddr_in*>(&into);
        a->sin_family = AF_INET;
        a->sin_port = htons(static_cast<uint16_t>(p));
        length = sizeof *a;
        return ::inet_pton(AF_INET, text.c_str(), &a->sin_addr) == 1;
    };
    if (!fill(address, peer, port) || (!source.empty() && !fill(source, local, 0)))
        return -1;
    // Not inherited by server processes the test starts later.
    int fd = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    if (receiveBuffer > 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    if ((!source.empty() && ::bind(fd, reinterpret_cast<sockaddr*>(&local), length) != 0) ||
        ::connect(fd, reinterpret_cast<sockaddr*>(&peer), length) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Sends every byte on a plain connection; false when it broke first.
bool sendAll(int fd, const std::string& bytes) {
    size_t off = 0;
    while (off < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        off += static_cast<size_t>(n);
    }
    return true;
}

} // namespace

ConnectOptions fromAddress(const std::string& source) {
    ConnectOptions o;
    o.source = source;
    return o;
}

struct Connection::Tls {
    std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> ctx{SSL_CTX_new(TLS_client_method()),
                                                          SSL_CTX_free};
    std::unique_ptr<SSL, decltype(&SSL_free)> ssl{nullptr, SSL_free};
    bool ready = false;
};

Connection::Connection(int port, bool tls)
    : Connection(port, [tls] {
          ConnectOptions o;
          o.tls = tls;
          return o;
      }()) {}

Connection::Connection(int port, const ConnectOptions& o)
    : fd_(connectTo(o.address, port, o.timeoutMs, o.source, o.receiveBuffer)) {
    if (fd_ < 0 || !o.tls)
        return;
    tls_ = std::make_unique<Tls>();
    SSL_CTX* ctx = tls_->ctx.get();
    SSL_CTX_set_verify(ctx, SSL_VERIFY_NONE, nullptr);
    SSL_CTX_set_security_level(ctx, 0);
    SSL_CTX_set_min_proto_version(ctx, o.tlsVersion);
    SSL_CTX_set_max_proto_version(ctx, o.tlsVersion);
    if (!o.tlsTickets)
        SSL_CTX_set_options(ctx, SSL_OP_NO_TICKET);
    if (!o.ciphers.empty())
        SSL_CTX_set_cipher_list(ctx, o.ciphers.c_str());
    tls_->ssl.reset(SSL_new(ctx));
    SSL_set_fd(tls_->ssl.get(), fd_);
    if (o.tlsSession)
        SSL_set_session(tls_->ssl.get(), o.tlsSession.get());
    tls_->ready = SSL_connect(tls_->ssl.get()) == 1;
    ERR_clear_error();
}

Connection::~Connection() {
    close();
}

bool Connection::connected() const {
    return fd_ >= 0 && (!tls_ || tls_->ready);
}

bool Connection::send(const std::string& bytes) {
    if (!connected())
        return false;
    if (!tls_)
        return sendAll(fd_, bytes);
    size_t off = 0;
    while (off < bytes.size()) {
        const int n =
            SSL_write(tls_->ssl.get(), bytes.data() + off, static_cast<int>(bytes.size() - off));
        if (n <= 0) {
            ERR_clear_error();
            return false;
        }
        off += static_cast<size_t>(n);
    }
    return true;
}

void Connection::shutdownWrite() {
    if (fd_ >= 0)
        ::shutdown(fd_, SHUT_WR);
}

bool Connection::readSome(std::string& into, long long deadlineMs) {
    if (!connected()) {
        end_ = End::Failed;
        return false;
    }
    SSL* ssl = tls_ ? tls_->ssl.get() : nullptr;
    char buf[16384];
    for (;;) {
        const long long left = deadlineMs - nowMs();
        if (!(ssl && SSL_pending(ssl) > 0)) {
            pollfd p{fd_, POLLIN, 0};
            const int r = ::poll(&p, 1, left > 0 ? static_cast<int>(left) : 0);
            if (r < 0 && errno == EINTR)
                continue;
            if (r <= 0) {
                end_ = r == 0 ? End::TimedOut : End::Failed;
                return false;
            }
        }
        if (ssl) {
            const int n = SSL_read(ssl, buf, sizeof buf);
            if (n > 0) {
                into.append(buf, static_cast<size_t>(n));
                return true;
            }
            const int err = SSL_get_error(ssl, n);
            ERR_clear_error();
            if (err == SSL_ERROR_WANT_READ || err == SSL_ERROR_WANT_WRITE)
                continue;
            end_ = err == SSL_ERROR_ZERO_RETURN ? End::Closed : End::Failed;
            return false;
        }
        const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        if (n > 0) {
            into.append(buf, static_cast<size_t>(n));
            return true;
        }
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        end_ = n == 0 ? End::Closed : End::Failed;
        return false;
    }
}

std::string Connection::readAll(int timeoutMs) {
    return readAtLeast(std::string::npos, timeoutMs);
}

std::string Connection::readAtLeast(size_t count, int timeoutMs) {
    const long long deadline = nowMs() + timeoutMs;
    std::string data;
    data.swap(pending_);
    while (data.size() < count && readSome(data, deadline)) {
    }
    return data;
}

std::string Connection::readResponse(int timeoutMs) {
    const long long deadline = nowMs() + timeoutMs;
    std::string data;
    data.swap(pending_);
    size_t headerEnd;
    while ((headerEnd = data.find("\r\n\r\n")) == std::string::npos)
        if (!readSome(data, deadline))
            return "";
    const Response head = parseResponse(data.substr(0, headerEnd + 4));
    const size_t total =
        headerEnd + 4 + std::strtoul(head.header("Content-Length").c_str(), nullptr, 10);
    while (data.size() < total)
        if (!readSome(data, deadline))
            return "";
    pending_ = data.substr(total);
    return data.substr(0, total);
}

void Connection::close() {
    // An orderly end, so the session stays resumable.
    if (tls_ && tls_->ready && fd_ >= 0)
        SSL_shutdown(tls_->ssl.get());
    tls_.reset();
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

void Connection::abort() {
    if (fd_ >= 0) {
        linger l{1, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    }
    close();
}

std::shared_ptr<::ssl_session_st> Connection::tlsSession() const {
    if (!connected() || !tls_)
        return nullptr;
    return std::shared_ptr<::ssl_session_st>(SSL_get1_session(tls_->ssl.get()), SSL_SESSION_free);
}

bool Connection::tlsResumed() const {
    return connected() && tls_ && SSL_session_reused(tls_->ssl.get()) == 1;
}

std::string Connection::tlsVersion() const {
    return connected() && tls_ ? SSL_get_version(tls_->ssl.get()) : "";
}

std::string Connection::tlsCipher() const {
    return connected() && tls_ ? SSL_get_cipher_name(tls_->ssl.get()) : "";
}

std::string Connection::peerCertificate() const {
    if (!connected() || !tls_)
        return "";
    std::unique_ptr<X509, decltype(&X509_free)> cert(SSL_get1_peer_certificate(tls_->ssl.get()),
                                                     X509_free);
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), BIO_free);
    if (!cert || !PEM_write_bio_X509(bio.get(), cert.get()))
        return "";
    char* data = nullptr;
    const long n = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<size_t>(n));
}

std::string exchange(int port, const std::string& bytes, const ConnectOptions& options) {
    Connection c(port, options);
    c.send(bytes);
    return c.readAll(options.timeoutMs);
}

std::string exchange(int port, const std::string& bytes, bool tls, int timeoutMs) {
    ConnectOptions o;
    o.tls = tls;
    o.timeoutMs = timeoutMs;
    return exchange(port, bytes, o);
}

// ---------------------------------------------------------------------------

PortHolder::PortHolder(int wanted, const std::string& address) {
    const bool v6 = address.find(':') != std::string::npos;
    sockaddr_storage a{};
    socklen_t length = v6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
    auto* a4 = reinterpret_cast<sockaddr_in*>(&a);
    auto* a6 = reinterpret_cast<sockaddr_in6*>(&a);
    if (v6) {
        a6->sin6_family = AF_INET6;
        a6->sin6_port = htons(static_cast<uint16_t>(wanted));
        ::inet_pton(AF_INET6, address.c_str(), &a6->sin6_addr);
    } else {
        a4->sin_family = AF_INET;
        a4->sin_port = htons(static_cast<uint16_t>(wanted));
        ::inet_pton(AF_INET, address.c_str(), &a4->sin_addr);
    }
    fd_ = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ >= 0 &&
        (::bind(fd_, reinterpret_cast<sockaddr*>(&a), length) != 0 || ::listen(fd_, 64) != 0 ||
         ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &length) != 0)) {
        ::close(fd_);
        fd_ = -1;
    }
    port = fd_ < 0 ? 0 : ntohs(v6 ? a6->sin6_port : a4->sin_port);
}

PortHolder::~PortHolder() {
    if (fd_ >= 0)
        ::close(fd_);
}

namespace {

// Bytes of a request: header block, then as many body bytes as its
// Content-Length says. One that stalls before its header block is complete
// (or is no HTTP at all, like a TLS hello) is answered after a short pause.
std::string readRequest(int fd) {
    std::string data;
    char buf[4096];
    size_t needed = std::string::npos;
    while (needed == std::string::npos || data.size() < needed) {
        pollfd pfd{fd, POLLIN, 0};
        if (::poll(&pfd, 1, data.empty() || needed != std::string::npos ? 5000 : 300) <= 0)
            break;
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            break;
        data.append(buf, static_cast<size_t>(n));
        size_t end = data.find("\r\n\r\n");
        if (needed == std::string::npos && end != std::string::npos)
            needed = end + 4 +
                     std::strtoul(
                         parseResponse(data.substr(0, end + 4)).header("Content-Length").c_str(),
                         nullptr, 10);
    }
    return data;
}

} // namespace

CannedServer::CannedServer(Responder responder) : responder(std::move(responder)) {
    if (!holder.held())
        throw std::runtime_error("no loopback listener");
    thread = std::thread(&CannedServer::serve, this);
}

CannedServer::~CannedServer() {
    stopping = true;
    thread.join();
    for (int fd : held)
        ::close(fd);
}

std::string CannedServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port()) + path;
}

std::vector<std::string> CannedServer::requests() const {
    std::lock_guard<std::mutex> lock(mutex);
    return received;
}

void CannedServer::serve() {
    const int listenFd = holder.fd();
    while (!stopping) {
        pollfd pfd{listenFd, POLLIN, 0};
        if (::poll(&pfd, 1, 50) <= 0)
            continue;
        const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        const int connection = accepted++;
        const std::string request = readRequest(fd);
        {
            std::lock_guard<std::mutex> lock(mutex);
            received.push_back(request);
        }
        const std::optional<std::string> reply = responder(connection, request);
        if (!reply) {
            held.push_back(fd);
            continue;
        }
        sendAll(fd, *reply);
        ::shutdown(fd, SHUT_WR);
        ::close(fd);
    }
}

namespace {

std::string lower(std::string s) {
    for (auto& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

} // namespace

Response parseResponse(const std::string& raw) {
    Response r;
    r.raw = raw;
    size_t end = raw.find("\r\n\r\n");
    if (end == std::string::npos)
        return r;
    r.headerBlock = raw.substr(0, end + 4);
    r.body = raw.substr(end + 4);
    size_t lineEnd = raw.find("\r\n");
    r.statusLine = raw.substr(0, lineEnd);
    // "HTTP/1.1 200 Ok"
    size_t sp1 = r.statusLine.find(' ');
    if (sp1 != std::string::npos) {
        size_t sp2 = r.statusLine.find(' ', sp1 + 1);
        r.status = std::atoi(r.statusLine.substr(sp1 + 1, sp2 - sp1 - 1).c_str());
        if (sp2 != std::string::npos)
            r.reason = r.statusLine.substr(sp2 + 1);
    }
    size_t pos = lineEnd + 2;
    while (pos < end + 2) {
        size_t e = raw.find("\r\n", pos);
        std::string line = raw.substr(pos, e - pos);
        pos = e + 2;
        size_t colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        std::string value = line.substr(colon + 1);
        size_t first = value.find_first_not_of(' ');
        value = first == std::string::npos ? std::string() : value.substr(first);
        r.headers.emplace_back(line.substr(0, colon), value);
    }
    r.complete = true;
    return r;
}

std::string Response::header(const std::string& name) const {
    std::string n = lower(name);
    for (auto& h : headers)
        if (lower(h.first) == n)
            return h.second;
    return std::string();
}

bool Response::hasHeader(const std::string& name) const {
    std::string n = lower(name);
    for (auto& h : headers)
        if (lower(h.first) == n)
            return true;
    return false;
}

std::string requestText(int port, const std::string& method, const std::string& target,
                        const std::vector<std::string>& headers, const std::string& body) {
    std::string req =
        method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n";
    for (auto& h : headers)
        req += h + "\r\n";
    if (!body.empty())
        req += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    req += "Connection: close\r\n\r\n";
    return req + body;
}

Response request(int port, const std::string& method, const std::string& target,
                 const std::vector<std::string>& headers, const std::string& body, bool tls) {
    return parseResponse(exchange(port, requestText(port, method, target, headers, body), tls));
}

std::string multipartBody(const std::string& boundary, const std::vector<FormPart>& parts) {
    std::string b;
    for (auto& p : parts) {
        b += "--" + boundary + "\r\n";
        b += "Content-Disposition: form-data; name=\"" + p.name + "\"";
        if (!p.filename.empty())
            b += "; filename=\"" + p.filename + "\"";
        b += "\r\n";
        if (!p.filename.empty())
            b += "Content-Type: " + p.contentType + "\r\n";
        b += "\r\n" + p.content + "\r\n";
    }
    b += "--" + boundary + "--\r\n";
    return b;
}

std::string basicAuth(const std::string& user, const std::string& password) {
    return "Authorization: Basic " + base64(user + ":" + password);
}

// ---------------------------------------------------------------------------

InstallOptions bundled(const std::string& profile, bool tls, const std::string& extraConfig) {
    InstallOptions o;
    o.resourcePlugin = storagePlugin();
    o.logPlugin = logServicePlugin();
    o.tls = tls;
    o.extraConfig = extraConfig;
    if (!profile.empty())
        o.extraConfig = "\"RedfishProtocolProfile\": \"" + profile + "\"" +
                        (extraConfig.empty() ? "" : ", " + extraConfig);
    return o;
}

BundledServer::BundledServer(const InstallOptions& options) : tree(options) {}

std::string BundledServer::start() {
    server.reset();
    server = std::make_unique<ServerProcess>(tree);
    if (!server->waitReady(30000))
        return "the server did not start: " + server->output() + tree.outLog();
    return "";
}

std::string BundledServer::password() const {
    std::string p = readFile(tree.serverDir + "InitialAdminPassword.txt");
    while (!p.empty() && (p.back() == '\n' || p.back() == '\r'))
        p.pop_back();
    return p;
}

Response BundledServer::createSession(const std::string& user, const std::string& pass) const {
    return send("POST", "/redfish/v1/SessionService/Sessions", "",
                nlohmann::json{{"UserName", user}, {"Password", pass}}.dump());
}

std::string BundledServer::login(const std::string& user, const std::string& pass,
                                 int* status) const {
    const Response r = createSession(user, pass);
    if (status)
        *status = r.status;
    return r.status == 201 ? r.header("X-Auth-Token") : std::string();
}

Response BundledServer::send(const std::string& method, const std::string& target,
                             const std::string& token, const std::string& body,
                             std::vector<std::string> headers) const {
    if (token.rfind("Basic ", 0) == 0)
        headers.push_back("Authorization: " + token);
    else if (!token.empty())
        headers.push_back("X-Auth-Token: " + token);
    bool typed = false;
    for (const std::string& h : headers)
        typed = typed || lower(h.substr(0, 13)) == "content-type:";
    if (!body.empty() && !typed)
        headers.push_back("Content-Type: application/json");
    return request(tree.port, method, target, headers, body, tree.tls);
}

Response BundledServer::get(const std::string& target, const std::string& header) const {
    return request(tree.port, "GET", target, {header}, "", tree.tls);
}

} // namespace ts

namespace ts {
std::string base64(const std::string& text) {
    std::string out(4 * ((text.size() + 2) / 3) + 1, '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&out[0]),
                                  reinterpret_cast<const unsigned char*>(text.data()),
                                  static_cast<int>(text.size()));
    out.resize(static_cast<size_t>(n));
    return out;
}
} // namespace ts
