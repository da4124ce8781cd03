// tolvanereference: the benchmarks' reference server. The same CivetWeb build
// as the Redfish server, one raw handler on "/redfish" that writes the
// server's fixed header block and its 756-byte service root for every request,
// 50 worker threads, keep-alive off: the fastest this connection model gets.
#include <pthread.h>
#include <signal.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "civetweb.h"
#include "servicerootdocument.h"

namespace {

struct ReferenceOptions {
    std::string bind = "127.0.0.1";
    int port = 0;
    bool tls = false;
    std::string certificate;
    std::string threads = "50";
    std::string requestTimeoutMs = "30000";
    // The Redfish server's TLS settings, so both sides negotiate alike.
    std::string sslProtocolVersion = "3";
    std::string sslCipherList = "ECDH+AESGCM+AES256:!aNULL:!MD5:!DSS";
    std::string errorLog;
};

const char kUsage[] = R"(usage: tolvanereference --port N [options]

Reference server for the benchmarks: answers every request under /redfish with
the Redfish server's fixed header block and its service root, nothing else.
Runs until SIGINT or SIGTERM.

  --port N                   listening port (required)
  --bind ADDR                listening address (default 127.0.0.1)
  --tls                      HTTPS (needs --cert)
  --cert PATH                PEM file with certificate and private key
  --threads N                worker threads (default 50)
  --request-timeout-ms N     request_timeout_ms (default 30000)
  --ssl-protocol-version N   CivetWeb ssl_protocol_version (default 3)
  --ssl-cipher-list TEXT     CivetWeb ssl_cipher_list (default ECDH+AESGCM+AES256:!aNULL:!MD5:!DSS)
  --error-log PATH           CivetWeb error_log_file (default none)
)";

bool isNumber(const std::string& text) {
    return !text.empty() && text.size() < 10 &&
           text.find_first_not_of("0123456789") == std::string::npos;
}

// 0 to go on, otherwise the exit code.
int parseOptions(int argc, char** argv, ReferenceOptions& options) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            return -1;
        }
        if (arg == "--tls") {
            options.tls = true;
            continue;
        }
        if (i + 1 >= argc) {
            std::cerr << "tolvanereference: " << arg << " needs a value (see --help)\n";
            return 2;
        }
        std::string value = argv[++i];
        if (arg == "--port" && isNumber(value) && std::atoi(value.c_str()) > 0 &&
            std::atoi(value.c_str()) < 65536) {
            options.port = std::atoi(value.c_str());
        } else if (arg == "--bind") {
            options.bind = value;
        } else if (arg == "--cert") {
            options.certificate = value;
        } else if (arg == "--threads" && isNumber(value) && value != "0") {
            options.threads = value;
        } else if (arg == "--request-timeout-ms" && isNumber(value)) {
            options.requestTimeoutMs = value;
        } else if (arg == "--ssl-protocol-version" && isNumber(value)) {
            options.sslProtocolVersion = value;
        } else if (arg == "--ssl-cipher-list") {
            options.sslCipherList = value;
        } else if (arg == "--error-log") {
            options.errorLog = value;
        } else {
            std::cerr << "tolvanereference: bad option " << arg << " " << value
                      << " (see --help)\n";
            return 2;
        }
    }
    if (options.port == 0) {
        std::cerr << "tolvanereference: --port is required (see --help)\n";
        return 2;
    }
    if (options.tls && options.certificate.empty()) {
        std::cerr << "tolvanereference: --tls needs --cert\n";
        return 2;
    }
    return 0;
}

struct Answer {
    std::string header;
    std::string body;
};

int handleRedfish(struct mg_connection* conn, void* cbdata) {
    const Answer* answer = static_cast<const Answer*>(cbdata);
    // Drain a request body so closing the socket never resets the connection
    // under an unread body.
    char sink[4096];
    while (mg_read(conn, sink, sizeof sink) > 0) {
    }
    // Two writes, header block then body, as the Redfish server writes them.
    mg_write(conn, answer->header.data(), answer->header.size());
    mg_write(conn, answer->body.data(), answer->body.size());
    return 200;
}

int logMessage(const struct mg_connection*, const char* message) {
    std::cerr << "tolvanereference: " << message << "\n";
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    ReferenceOptions options;
    int rc = parseOptions(argc, argv, options);
    if (rc != 0)
        return rc < 0 ? 0 : rc;

    Answer answer{bench::kFixedHeaderBlock, bench::serviceRootBody()};
    if (answer.body.size() != bench::kServiceRootBodySize) {
        std::cerr << "tolvanereference: service root is " << answer.body.size()
                  << " bytes, expected " << bench::kServiceRootBodySize << "\n";
        return 1;
    }

    // Worker threads inherit this mask; the main thread waits for the signals.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    if (options.tls && (mg_init_library(MG_FEATURES_TLS) & MG_FEATURES_TLS) == 0) {
        std::cerr << "tolvanereference: the HTTP library has no TLS support\n";
        return 1;
    }
    if (!options.tls)
        mg_init_library(0);

    std::string listening =
        (options.bind.find(':') != std::string::npos ? "[" + options.bind + "]" : options.bind) +
        ":" + std::to_string(options.port) + (options.tls ? "s" : "");
    std::vector<std::string> optionTexts = {"listening_ports",
                                            listening,
                                            "request_timeout_ms",
                                            options.requestTimeoutMs,
                                            "enable_auth_domain_check",
                                            "no",
                                            "strict_transport_security_max_age",
                                            "15552000",
                                            "num_threads",
                                            options.threads,
                                            "enable_keep_alive",
                                            "no"};
    if (options.tls) {
        optionTexts.insert(optionTexts.end(),
                           {"ssl_certificate", options.certificate, "ssl_protocol_version",
                            options.sslProtocolVersion, "ssl_cipher_list", options.sslCipherList});
    }
    if (!options.errorLog.empty())
        optionTexts.insert(optionTexts.end(), {"error_log_file", options.errorLog});
    std::vector<const char*> optionList;
    for (const std::string& text : optionTexts)
        optionList.push_back(text.c_str());
    optionList.push_back(nullptr);

    struct mg_callbacks callbacks;
    std::memset(&callbacks, 0, sizeof callbacks);
    callbacks.log_message = logMessage;
    struct mg_context* ctx = mg_start(&callbacks, nullptr, optionList.data());
    if (!ctx) {
        std::cerr << "tolvanereference: the server did not start on " << listening << "\n";
        mg_exit_library();
        return 1;
    }
    mg_set_request_handler(ctx, "/redfish", handleRedfish, &answer);
    std::cout << "tolvanereference: listening on " << listening << " ("
              << (options.tls ? "https" : "http") << ", " << options.threads << " threads)"
              << std::endl;

    int received = 0;
    while (sigwait(&stopSignals, &received) != 0) {
    }
    mg_stop(ctx);
    mg_exit_library();
    std::cout << "tolvanereference: stopped" << std::endl;
    return 0;
}
