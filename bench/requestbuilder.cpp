#include "requestbuilder.h"

#include <nlohmann/json.hpp>

namespace bench {

namespace {

std::string hostHeader(const LoadOptions& options) {
    bool ipv6 = options.host.find(':') != std::string::npos;
    std::string host = ipv6 ? "[" + options.host + "]" : options.host;
    return host + ":" + std::to_string(options.port);
}

std::string compose(const std::string& method, const std::string& uri, const LoadOptions& options,
                    const std::string& token, const std::string& contentType,
                    const std::string& body, bool withBody) {
    std::string request = method + " " + uri + " HTTP/1.1\r\n";
    request += "Host: " + hostHeader(options) + "\r\n";
    request += "Accept: application/json\r\n";
    if (!token.empty())
        request += "X-Auth-Token: " + token + "\r\n";
    if (withBody) {
        request += "Content-Type: " + contentType + "\r\n";
        request += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    }
    // HTTP/1.1 keeps the connection unless told otherwise.
    request += options.keepAlive ? "\r\n" : "Connection: close\r\n\r\n";
    request += body;
    return request;
}

// A file of `size` bytes that is neither all zeros nor text; the same for a
// given client so runs are repeatable.
std::string uploadContent(size_t size, int clientIndex) {
    std::string content(size, '\0');
    unsigned state = 2166136261u ^ static_cast<unsigned>(clientIndex);
    for (size_t i = 0; i < size; ++i) {
        state = state * 1664525u + 1013904223u;
        content[i] = static_cast<char>(state >> 24);
    }
    return content;
}

} // namespace

std::string loginBody(const std::string& user, const std::string& password) {
    return nlohmann::ordered_json{{"UserName", user}, {"Password", password}}.dump();
}

std::string buildRequest(RequestKind kind, const LoadOptions& options, const std::string& token,
                         int clientIndex) {
    const std::string noToken;
    switch (kind) {
    case RequestKind::ServiceRoot:
        return compose("GET", options.rootUri, options, noToken, "", "", false);
    case RequestKind::PluginGet:
        return compose("GET", options.getUri, options, token, "", "", false);
    case RequestKind::Login:
        return compose("POST", options.loginUri, options, noToken, "application/json",
                       loginBody(options.user, options.password), true);
    case RequestKind::Patch:
        return compose("PATCH", options.patchUri, options, token, "application/json",
                       options.patchBody, true);
    case RequestKind::Upload: {
        std::string boundary = "----tolvaneload" + std::to_string(clientIndex) + "x7f3a";
        std::string fileName = "bench-client" + std::to_string(clientIndex) + ".bin";
        std::string body;
        body += "--" + boundary + "\r\n";
        body += "Content-Disposition: form-data; name=\"UpdateFile\"; filename=\"" + fileName +
                "\"\r\n";
        body += "Content-Type: application/octet-stream\r\n\r\n";
        body += uploadContent(options.uploadSize, clientIndex);
        body += "\r\n--" + boundary + "--\r\n";
        return compose("POST", options.uploadUri, options, token,
                       "multipart/form-data; boundary=" + boundary, body, true);
    }
    }
    return std::string();
}

} // namespace bench
