// Runs the load tool for about two seconds against the reference server, over
// HTTP and over TLS, with every request kind. Checks correctness only: every
// response well-formed and as expected; nothing here is timed.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "exchange.h"
#include "servicerootdocument.h"
#include "testsupport.h"

namespace {

bool portAccepts(int port) {
    const int fd = ts::connectLoopback(port);
    if (fd >= 0)
        ::close(fd);
    return fd >= 0;
}

pid_t spawn(const std::vector<std::string>& args, int outputFd) {
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(outputFd, STDOUT_FILENO);
        ::dup2(outputFd, STDERR_FILENO);
        std::vector<char*> argv;
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    return pid;
}

// Waits up to `timeoutMs`; the exit code, 128+signal, or -1 if still running.
int waitFor(pid_t pid, int timeoutMs) {
    int status = 0;
    pid_t reaped = 0;
    if (!ts::waitUntil([&] { return (reaped = ::waitpid(pid, &status, WNOHANG)) != 0; },
                       timeoutMs) ||
        reaped != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

struct Completed {
    int exitCode = -1;
    std::string output;
};

// Runs a program to its end (bounded) and collects what it printed.
Completed run(const std::vector<std::string>& args, int timeoutMs = 60000) {
    int fds[2];
    Completed done;
    if (::pipe(fds) != 0)
        return done;
    pid_t pid = spawn(args, fds[1]);
    ::close(fds[1]);
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    char buf[4096];
    for (;;) {
        int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        until - std::chrono::steady_clock::now())
                                        .count());
        pollfd pfd{fds[0], POLLIN, 0};
        if (left <= 0 || ::poll(&pfd, 1, left) <= 0)
            break;
        ssize_t n = ::read(fds[0], buf, sizeof buf);
        if (n <= 0)
            break;
        done.output.append(buf, static_cast<size_t>(n));
    }
    ::close(fds[0]);
    done.exitCode = waitFor(pid, 5000);
    if (done.exitCode == -1) {
        ::kill(pid, SIGKILL);
        waitFor(pid, 5000);
    }
    return done;
}

// The reference server as a child process, stopped with SIGTERM at the end.
class ReferenceServer {
  public:
    explicit ReferenceServer(bool tls) {
        for (int attempt = 0; attempt < 3 && pid < 0; ++attempt) {
            port = ts::freePort();
            std::vector<std::string> args = {TOLVANE_REFERENCE_SERVER, "--port",
                                             std::to_string(port)};
            if (tls)
                args.insert(args.end(), {"--tls", "--cert", BENCH_TEST_CERT});
            logFd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
            pid_t child = spawn(args, logFd);
            // An early end means the port was taken meanwhile.
            ts::waitUntil([&] { return portAccepts(port) || waitFor(child, 0) != -1; }, 10000);
            if (portAccepts(port))
                pid = child;
            else {
                ::kill(child, SIGKILL);
                waitFor(child, 5000);
            }
            ::close(logFd);
        }
    }
    ~ReferenceServer() {
        if (pid > 0 && waitFor(pid, 0) == -1) {
            ::kill(pid, SIGKILL);
            waitFor(pid, 5000);
        }
    }
    int stop() {
        ::kill(pid, SIGTERM);
        int code = waitFor(pid, 10000);
        pid = -1;
        return code;
    }
    pid_t pid = -1;
    int port = 0;

  private:
    int logFd = -1;
};

std::map<std::string, std::string> resultLine(const std::string& output) {
    std::map<std::string, std::string> fields;
    size_t at = output.find("RESULT ");
    if (at == std::string::npos)
        return fields;
    std::istringstream in(output.substr(at + 7, output.find('\n', at) - at - 7));
    std::string item;
    while (in >> item) {
        size_t eq = item.find('=');
        if (eq != std::string::npos)
            fields[item.substr(0, eq)] = item.substr(eq + 1);
    }
    return fields;
}

void expectCleanRun(bool tls) {
    ReferenceServer server(tls);
    ASSERT_GT(server.pid, 0) << "the reference server did not start";
    std::vector<std::string> args = {TOLVANE_LOAD_TOOL,
                                     "--port",
                                     std::to_string(server.port),
                                     "--clients",
                                     "8",
                                     "--duration",
                                     "2",
                                     "--mix",
                                     "root=2,get,login,patch,upload",
                                     "--password",
                                     "secret",
                                     "--server-pid",
                                     std::to_string(server.pid),
                                     "--kv"};
    if (tls)
        args.push_back("--tls");
    Completed load = run(args);
    EXPECT_EQ(load.exitCode, 0) << load.output;
    auto result = resultLine(load.output);
    ASSERT_FALSE(result.empty()) << load.output;
    EXPECT_EQ(result["err_malformed"], "0") << load.output;
    EXPECT_EQ(result["errors"], "0") << load.output;
    EXPECT_GT(std::stol(result["ok"]), 0) << load.output;
    EXPECT_EQ(result["tls"], tls ? "1" : "0");
    // Full handshakes only, one per request, unless resumption is asked for.
    if (tls) {
        EXPECT_GE(std::stol(result["handshakes"]), std::stol(result["ok"]));
    }
    EXPECT_EQ(result["resumed"], "0");
    EXPECT_GT(std::stol(result["rss_peak_kb"]), 0) << load.output;
    EXPECT_NE(result["cpu_us_per_req"], "-") << load.output;
    for (const char* kind : {"root", "get", "login", "patch", "upload"})
        EXPECT_NE(load.output.find(std::string("  ") + kind + " "), std::string::npos) << kind;
    EXPECT_EQ(server.stop(), 0);
}

} // namespace

TEST(LoadToolSmoke, EveryKindOverHttpAgainstTheReferenceServer) {
    expectCleanRun(false);
}

TEST(LoadToolSmoke, EveryKindOverTlsWithFullHandshakes) {
    expectCleanRun(true);
}

TEST(LoadToolSmoke, ReferenceServerAnswersTheFixedHeaderAndServiceRoot) {
    ReferenceServer server(false);
    ASSERT_GT(server.pid, 0);
    // Byte for byte what the Redfish server answers for its service root, for
    // any URI under /redfish and any method.
    bench::Endpoint endpoint;
    std::string error;
    ASSERT_TRUE(bench::resolveEndpoint("127.0.0.1", server.port, endpoint, error));
    bench::Exchanger exchanger(endpoint, nullptr, 5000);
    const std::string expected = bench::kFixedHeaderBlock + bench::serviceRootBody();
    for (const char* request : {"GET /redfish/v1 HTTP/1.1\r\nHost: x\r\n\r\n",
                                "POST /redfish/v1/SessionService/Sessions HTTP/1.1\r\nHost: x\r\n"
                                "Content-Length: 2\r\n\r\n{}"}) {
        std::string response;
        auto result = exchanger.exchange(request, response);
        EXPECT_EQ(result.error, bench::ErrorKind::None) << result.detail;
        EXPECT_EQ(response, expected);
    }
    // A request count instead of a duration; all answers checked as 2xx.
    Completed load = run({TOLVANE_LOAD_TOOL, "--port", std::to_string(server.port), "--requests",
                          "50", "--clients", "4", "--kv"});
    EXPECT_EQ(load.exitCode, 0) << load.output;
    EXPECT_EQ(resultLine(load.output)["ok"], "50") << load.output;
    EXPECT_EQ(server.stop(), 0);
}

TEST(LoadToolSmoke, NothingListeningGivesConnectErrorsAndExitStatusOne) {
    Completed load = run({TOLVANE_LOAD_TOOL, "--port", std::to_string(ts::freePort()), "--requests",
                          "5", "--clients", "1", "--kv"});
    EXPECT_EQ(load.exitCode, 1) << load.output;
    auto result = resultLine(load.output);
    EXPECT_EQ(result["err_connect"], "5") << load.output;
    EXPECT_EQ(result["ok"], "0");
}

TEST(LoadToolSmoke, UsageErrorsExitWithTwoAndSayWhy) {
    Completed noPort = run({TOLVANE_LOAD_TOOL, "--clients", "2"});
    EXPECT_EQ(noPort.exitCode, 2);
    EXPECT_NE(noPort.output.find("--port is required"), std::string::npos) << noPort.output;
    Completed help = run({TOLVANE_LOAD_TOOL, "--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.output.find("usage: tolvaneload"), std::string::npos);
    Completed reference = run({TOLVANE_REFERENCE_SERVER, "--tls", "--port", "1"});
    EXPECT_EQ(reference.exitCode, 2);
    EXPECT_NE(reference.output.find("--tls needs --cert"), std::string::npos) << reference.output;
}
