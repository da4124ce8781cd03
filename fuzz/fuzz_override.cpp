// The method override, through the running engine: each input is sent as a
// raw request to an in-process server whose one handler answers with the
// method it was called with. Whenever a request reaches the handler, that
// method must be what the override rule gives for the header block: PATCH
// when a header line of its own begins with "X-HTTP-Method-Override: PATCH",
// else DELETE when one begins with "X-HTTP-Method-Override: DELETE", else the
// request line's first word. Text inside another header's value overrides
// nothing.
// After each input the engine must still answer a well-formed request.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "civetweb.h"
#include "support/fuzzcheck.h"
#include "support/loopback.h"

namespace {

constexpr int kExchangeTimeoutMs = 8000;
constexpr char kMarker[] = "method=";
constexpr char kProbe[] = "GET /probe HTTP/1.1\r\nHost: fuzz\r\n\r\n";

struct mg_context* gContext = nullptr;
int gPort = 0;

int recordMethod(struct mg_connection* conn, void*) {
    const struct mg_request_info* ri = mg_get_request_info(conn);
    const std::string body = std::string(kMarker) + (ri->request_method ? ri->request_method : "");
    mg_printf(conn, "HTTP/1.1 200 OK\r\nContent-Length: %zu\r\nConnection: close\r\n\r\n",
              body.size());
    mg_write(conn, body.data(), body.size());
    return 200;
}

void stopServer() {
    if (gContext)
        mg_stop(gContext);
    gContext = nullptr;
}

bool isBlank(char c) {
    return c != '\0' && std::strchr(" \t\r\n\v\f", c) != nullptr;
}

// The header block as the engine delimits it: leading white space skipped,
// then up to the first blank line ("\n\n" or "\r\n\r\n"); the rest of the
// input when it has none.
std::string_view headerBlock(std::string_view input) {
    size_t start = 0;
    while (start < input.size() && isBlank(input[start]))
        ++start;
    input.remove_prefix(start);
    for (size_t i = 0; i < input.size(); ++i) {
        if (input.compare(i, 2, "\n\n") == 0)
            return input.substr(0, i + 2);
        if (input.compare(i, 4, "\r\n\r\n") == 0)
            return input.substr(0, i + 4);
    }
    return input;
}

// Whether a line after the request line, before the empty line that ends the
// block, begins with `text`.
bool hasHeaderLine(std::string_view block, std::string_view text) {
    for (size_t lf = block.find('\n'); lf != std::string_view::npos;
         lf = block.find('\n', lf + 1)) {
        const std::string_view line = block.substr(lf + 1);
        if (line.empty() || line[0] == '\r' || line[0] == '\n')
            return false;
        if (line.substr(0, text.size()) == text)
            return true;
    }
    return false;
}

std::string expectedMethod(std::string_view input) {
    const std::string_view block = headerBlock(input);
    if (hasHeaderLine(block, "X-HTTP-Method-Override: PATCH"))
        return "PATCH";
    if (hasHeaderLine(block, "X-HTTP-Method-Override: DELETE"))
        return "DELETE";
    size_t end = 0;
    while (end < block.size() && block[end] != '\0' && !isBlank(block[end]))
        ++end;
    return std::string(block.substr(0, end));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    mg_init_library(0);
    for (int attempt = 0; attempt < 20 && !gContext; ++attempt) {
        gPort = fuzzsupport::freeLoopbackPort();
        const std::string listening = "127.0.0.1:" + std::to_string(gPort);
        const char* options[] = {"listening_ports",
                                 listening.c_str(),
                                 "num_threads",
                                 "4",
                                 "request_timeout_ms",
                                 "2000",
                                 nullptr};
        gContext = mg_start(nullptr, nullptr, options);
    }
    if (!gContext) {
        std::fprintf(stderr, "fuzz_override: the engine did not start\n");
        std::exit(1);
    }
    mg_set_request_handler(gContext, "/", recordMethod, nullptr);
    std::atexit(stopServer);
    return 0;
}

namespace {

// The method the handler saw, from its answer; "" when the engine refused the
// request before any handler.
std::string handledMethod(const std::string& answer) {
    const size_t bodyStart = answer.find("\r\n\r\n");
    if (answer.compare(0, 13, "HTTP/1.1 200 ") != 0 || bodyStart == std::string::npos)
        return "";
    const std::string body = answer.substr(bodyStart + 4);
    if (body.compare(0, sizeof kMarker - 1, kMarker) != 0)
        return "";
    return body.substr(sizeof kMarker - 1);
}

void checkMethod(std::string_view input) {
    bool timedOut = false;
    const std::string answer =
        fuzzsupport::exchange(gPort, input.data(), input.size(), kExchangeTimeoutMs, &timedOut);
    if (timedOut) {
        std::fprintf(stderr, "fuzz_override: no end of answer within %d ms\n", kExchangeTimeoutMs);
        __builtin_trap();
    }
    const std::string seen = handledMethod(answer);
    if (seen.empty())
        return;
    const std::string expected = expectedMethod(input);
    if (seen != expected) {
        std::fprintf(stderr, "fuzz_override: handled as \"%s\", override rule gives \"%s\"\n",
                     seen.c_str(), expected.c_str());
        __builtin_trap();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    checkMethod(std::string_view(reinterpret_cast<const char*>(data), size));
    FUZZ_CHECK(fuzzsupport::stillAnswers(gPort, kProbe, "HTTP/1.1 200 OK\r\n", kExchangeTimeoutMs));
    return 0;
}
