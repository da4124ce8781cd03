#include "loginrules.h"

#include <exception>

#include "jsonadapter.h"

std::string quoteLoginText(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    out.push_back('"');
    for (char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            out.push_back(c);
        }
    }
    out.push_back('"');
    return out;
}

std::string buildLoginArgument(std::string_view hostName, std::string_view body,
                               std::string_view clientAddress) {
    return "{\"x-forwarded-for\":" + quoteLoginText(hostName) +
           ",\"requestBody\":" + quoteLoginText(body) +
           ",\"clientAddress\":" + quoteLoginText(clientAddress) + "}";
}

std::string sessionCookieAttributes(bool overTls) {
    // Scripts cannot read the cookie, other sites cannot make a browser send
    // it, and over TLS it never travels in clear.
    return overTls ? "; Path=/redfish; HttpOnly; SameSite=Strict; Secure"
                   : "; Path=/redfish; HttpOnly; SameSite=Strict";
}

std::string sessionCookieText(std::string_view token) {
    return "sessionId =" + std::string(token);
}

std::string sessionExpiryText(std::time_t now, int32_t timeout) {
    std::time_t expiry = now + static_cast<std::time_t>(timeout);
    std::tm local{};
#if defined(_WIN32)
    localtime_s(&local, &expiry);
#else
    localtime_r(&expiry, &local);
#endif
    char text[64];
    size_t n = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return std::string(text, n);
}

std::vector<std::pair<std::string, std::string>>
sessionCookieHeaderFields(std::string_view cookie, int32_t timeout, std::time_t now) {
    return {{"Set-Cookie", std::string(cookie)},
            {"Expires", sessionExpiryText(now, timeout)},
            {"Max-Age", std::to_string(timeout)}};
}

namespace {

void replaceAll(std::string& text, const std::string& what, const std::string& with) {
    if (what.empty())
        return;
    for (size_t at = text.find(what); at != std::string::npos;
         at = text.find(what, at + with.size()))
        text.replace(at, what.size(), with);
}

} // namespace

std::string maskToken(std::string_view text, std::string_view token) {
    std::string out(text);
    if (token.empty())
        return out;
    static const std::string kMask = "******";
    std::string quoted = json::dump(json::Value(std::string(token)));
    // The reply carries the token as a JSON string: mask its escaped form
    // first, then any raw occurrence.
    replaceAll(out, quoted.substr(1, quoted.size() - 2), kMask);
    replaceAll(out, std::string(token), kMask);
    return out;
}

const char* getJsonMemberText(const char* jsonText, const char* name, std::string& out) {
    try {
        json::Value root;
        if (!json::parseObject(jsonText ? jsonText : "", root))
            out = "root parse failed";
        else if (!json::hasMember(root, name))
            out = "{}";
        else
            out = json::asText(root.at(name));
    } catch (const std::exception&) {
        out = json::kInternalException;
    }
    return out.c_str();
}

std::string getResponseHeadersText(const json::Value& reply) {
    if (!json::hasMember(reply, "response"))
        return "";
    return json::memberText(reply.at("response"), "Headers");
}
