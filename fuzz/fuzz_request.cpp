// A whole request through the running handler: the server is started once,
// in-process, the way the program starts it (configuration file, option list,
// both plug-ins, the one handler on "/redfish"), with the scripted plug-in as
// the resource plug-in and a plain listening port on the loopback interface.
// Each input is sent as the raw bytes of a request. The server must answer
// within a bounded time with nothing or with a status line, never crash, keep
// serving (a well-formed request after each input is answered), and never put
// request text into its status line or headers.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>

#include "Logger.h"
#include "answer/classichead.h"
#include "civetserver.h"
#include "civetweb_ext.h"
#include "redfishserver/httpoptions.h"
#include "redfishserver/installpaths.h"
#include "redfishserver/pluginhost.h"
#include "redfishserver/serverconfig.h"
#include "redfishserverhandler.h"
#include "support/fuzzcheck.h"
#include "support/loopback.h"

namespace fs = std::filesystem;

namespace {

constexpr int kExchangeTimeoutMs = 8000;
constexpr char kProbe[] = "GET /redfish HTTP/1.1\r\nHost: fuzz\r\n\r\n";
// Runs of request text this long or longer must not reappear in the answer's
// head unless the server has words of its own that hold them.
constexpr size_t kEchoMinLength = 8;

std::string gRoot;     // the temporary install tree, ends with '/'
std::string gOwnWords; // everything the server may put in a head by itself
int gPort = 0;
std::unique_ptr<CivetServer> gServer;
std::unique_ptr<RedfishServerHandler> gHandler;

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "fuzz_request: %s\n", what.c_str());
    std::exit(1);
}

void writeText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out)
        fail("cannot write " + path);
}

// Replies of the scripted plug-in by "<METHOD> <uri>": ordinary, non-JSON,
// empty and file answers, a login and odd statuses; anything else is echoed.
std::string scriptedReplies(const std::string& answerFile) {
    return R"({
  "POST /redfish/v1/SessionService/Sessions": "{\"response\":{\"HttpStatus\":201,\"Data\":{\"Role\":\"/redfish/v1/AccountService/Roles/Administrator\",\"OSPrivilegeLevel\":\"Admin\",\"Id\":\"1\"},\"Headers\":{\"X-Auth-Token\":\"fuzztoken\",\"Location\":\"/redfish/v1/SessionService/Sessions/1\"}}}",
  "GET /redfish/v1/Systems": "{\"HttpStatus\":200,\"Data\":{\"@odata.id\":\"/redfish/v1/Systems\",\"Members\":[]}}",
  "GET /redfish/v1/Chassis": "not json at all",
  "GET /redfish/v1/Managers": "",
  "GET /redfish/v1/Fabrics": "{\"HttpStatus\":\"abc\",\"Data\":\"text\"}",
  "PATCH /redfish/v1/Systems/1": "{\"HttpStatus\":99999999999,\"Data\":null}",
  "DELETE /redfish/v1/SessionService/Sessions/1": "{\"HttpStatus\":204}",
  "POST /redfish/v1/Managers/1/LogServices/Log/Actions/Export": "{\"HttpStatus\":200,\"Data\":{\"contentType\":\"application/octet-stream\",\"fileName\":\")" +
           answerFile + R"(\"}}",
  "POST /redfish/v1/Managers/1/Actions/Bad": "{\"HttpStatus\":200,\"Data\":{\"contentType\":\"text/plain\\r\\nX-Evil: 1\",\"fileName\":\")" +
           answerFile + R"(\"}}"
})";
}

void buildInstallTree() {
    // Under $TMPDIR: scripts/fuzz.sh points it into the build tree, so a tree
    // left behind by a crash is cleared by the next run.
    std::string pattern = (fs::temp_directory_path() / "tolvane-fuzz-request-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        fail("cannot create a temporary directory");
    gRoot = pattern + "/";
    const std::string serverDir = gRoot + "RedfishServer/";
    const std::string scriptDir = serverDir + "scripted/";
    fs::create_directories(serverDir + "Plugins");
    fs::create_directories(gRoot + "logs");
    fs::create_directories(scriptDir);
    fs::copy_file(TOLVANE_FUZZ_SCRIPTED_PLUGIN, serverDir + "WebServerAbstractionModule.so");
    fs::copy_file(TOLVANE_FUZZ_LOG_PLUGIN, serverDir + "Plugins/LogServicePlugin.so");

    gPort = fuzzsupport::freeLoopbackPort();
    if (gPort == 0)
        fail("no free loopback port");
    // Trace records on (debug mask 4) with a small roll-over, so the trace
    // writer runs on every request without filling the disk.
    writeText(serverDir + "ServerConfiguration.json",
              "{\"CommunicationProtocolHttps\":false,\"CommunicationProtocolHttp\":true,"
              "\"CommunicationPortHttp\":" +
                  std::to_string(gPort) +
                  ",\"CommunicationHostAddressHttp\":\"127.0.0.1\",\"SessionTimeout\":3000,"
                  "\"MaximumNumberOfConcurrentSessions\":4,\"RedfishDebugMask\":4,"
                  "\"rollingSize\":2000,\"rollingCount\":2,\"MaximumRequestBodySize\":65536}");
    const std::string answerFile = gRoot + "answer.bin";
    writeText(answerFile, "file answer bytes\n");
    writeText(scriptDir + "replies.json", scriptedReplies(answerFile));
    gOwnWords = "HTTP/1.0 HTTP/1.1 " + gRoot + scriptedReplies(answerFile);
    for (int status = 100; status < 600; ++status)
        gOwnWords = gOwnWords + " " + mg_get_response_code_text(nullptr, status) + " " +
                    classicStatusText(status);
    // The call record and the engine's information lines would grow without
    // bound over a long run; their writers still run.
    fs::create_symlink("/dev/null", scriptDir + "calls.jsonl");
    fs::create_symlink("/dev/null", gRoot + "logs/WebServer.log");

    ::setenv("TOLVANE_INSTALL_PATH", gRoot.c_str(), 1);
    ::setenv("TOLVANE_LOG_DIR", (gRoot + "logs/").c_str(), 1);
    ::setenv("SCRIPTED_PLUGIN_DIR", scriptDir.c_str(), 1);
}

void stopServer() {
    if (gServer) {
        gServer->removeHandler("/redfish");
        gServer->close();
        unloadWebServerPlugin();
    }
    gServer.reset();
    gHandler.reset();
    if (!gRoot.empty() && !std::getenv("TOLVANE_KEEP_FUZZ_TREE")) {
        std::error_code ec;
        fs::remove_all(gRoot, ec);
    }
}

// The server routine's start-up steps, with the listening port bound to the
// loopback interface only.
void startServer() {
    std::fill(std::begin(gInstallPath), std::end(gInstallPath), '\0');
    if (readInstallPath(gInstallPath) != 0)
        fail("install path not read");
    readLogDirectory(gLogDirectory);
    composeOutLogPath();
    readServerConfiguration();
    Logger::Configure();
    if (!initHttpLibrary())
        fail("HTTP library not initialised");
    if (!loadLogServicePlugin())
        fail("log plug-in not loaded");
    for (size_t i = 0; i + 1 < gServerOptions.size(); i += 2) {
        if (gServerOptions[i] == "listening_ports")
            gServerOptions[i + 1] = "127.0.0.1:" + std::to_string(gPort);
    }
    try {
        gServer = std::make_unique<CivetServer>(gServerOptions);
    } catch (const std::exception& e) {
        fail(std::string("server not started: ") + e.what());
    }
    mg_set_debug_log_type(ServerConfig.RedfishDebugMask);
    if (!loadWebServerPlugin())
        fail("resource plug-in not loaded");
    gHandler = std::make_unique<RedfishServerHandler>("127.0.0.1", gHandleForInstanceOfLibrary,
                                                      ServerConfig.SessionTimeout);
    gServer->setBodyPrefetch(maximumRequestBodySize(),
                             std::max<int>(ServerConfig.SessionTimeout, 10000));
    gServer->addHandler("/redfish", gHandler.get());
}

// "HTTP/", a version word, a blank, three digits and a blank. The engine's
// own error answers repeat the version the client wrote (one word).
bool startsWithStatusLine(const std::string& answer) {
    if (answer.compare(0, 5, "HTTP/") != 0)
        return false;
    size_t i = 5;
    while (i < answer.size() && answer[i] > ' ' && answer[i] < 0x7f)
        ++i;
    if (i + 5 > answer.size() || answer[i] != ' ')
        return false;
    for (size_t d = i + 1; d < i + 4; ++d) {
        if (answer[d] < '0' || answer[d] > '9')
            return false;
    }
    return answer[i + 4] == ' ';
}

bool wordCharacter(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '_' ||
           c == '~' || c == '%';
}

// A run of request text of at least kEchoMinLength word characters that is no
// word of the server's own and stands in the answer's status line or headers;
// "" when there is none.
std::string echoedRequestText(std::string_view input, const std::string& answer) {
    const std::string_view head =
        std::string_view(answer).substr(0, std::min(answer.find("\r\n\r\n"), answer.size()));
    size_t i = 0;
    while (i < input.size()) {
        size_t end = i;
        while (end < input.size() && wordCharacter(input[end]))
            ++end;
        if (end - i >= kEchoMinLength) {
            const std::string run(input.substr(i, end - i));
            if (head.find(run) != std::string_view::npos &&
                gOwnWords.find(run) == std::string::npos)
                return run;
        }
        i = end + 1;
    }
    return "";
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    buildInstallTree();
    startServer();
    std::atexit(stopServer);
    if (!fuzzsupport::stillAnswers(gPort, kProbe, "HTTP/1.1 200 ", kExchangeTimeoutMs))
        fail("the server does not answer");
    // The heads the server and its engine write by themselves (cache and
    // transport headers of error answers) are its own words too.
    for (const std::string& request :
         {std::string(kProbe), std::string("GET /redfish HTTP/9.9\r\n\r\n"),
          std::string("GET /elsewhere HTTP/1.1\r\nHost: fuzz\r\n\r\n"),
          std::string("\x01\r\n\r\n")}) {
        const std::string answer =
            fuzzsupport::exchange(gPort, request.data(), request.size(), kExchangeTimeoutMs);
        gOwnWords += " " + answer.substr(0, answer.find("\r\n\r\n"));
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    bool timedOut = false;
    const std::string answer = fuzzsupport::exchange(gPort, reinterpret_cast<const char*>(data),
                                                     size, kExchangeTimeoutMs, &timedOut);
    if (timedOut) {
        std::fprintf(stderr, "fuzz_request: no end of answer within %d ms\n", kExchangeTimeoutMs);
        __builtin_trap();
    }
    if (!answer.empty() && !startsWithStatusLine(answer)) {
        std::fprintf(stderr, "fuzz_request: answer without a status line: %.200s\n",
                     answer.c_str());
        __builtin_trap();
    }
    const std::string echoed =
        echoedRequestText(std::string_view(reinterpret_cast<const char*>(data), size), answer);
    if (!echoed.empty()) {
        std::fprintf(stderr, "fuzz_request: request text \"%s\" in the answer's head: %.400s\n",
                     echoed.c_str(), answer.c_str());
        __builtin_trap();
    }
    FUZZ_CHECK(fuzzsupport::stillAnswers(gPort, kProbe, "HTTP/1.1 200 ", kExchangeTimeoutMs));
    return 0;
}
