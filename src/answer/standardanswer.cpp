#include "answer/standardanswer.h"

#include <cstdio>
#include <ctime>

#include <openssl/evp.h>

#include "civetweb.h"
#include "gate/redfisherrors.h"
#include "jsonadapter.h"
#include "postrules.h"
#include "routes/routetable.h"
#include "protocol/metadata.h"
#include "answer/libraryhead.h"

namespace {

// Headers this writer decides alone; a produced one of these names is
// dropped and, where it applies, written anew.
const char* const kWriterHeaders[] = {
    "Connection",
    "Keep-Alive",
    "Date",
    "Content-Length",
    "Transfer-Encoding",
    "OData-Version",
    "Cache-Control",
    "ETag",
    "Link",
    "Allow",
    "X-Frame-Options",
    "X-Content-Type-Options",
    "Strict-Transport-Security",
};

// An answer carrying one of these holds a credential: nobody may store it.
const char* const kCredentialHeaders[] = {"X-Auth-Token", "Set-Cookie"};

// Sent with every answer.
const std::pair<const char*, const char*> kFixedHeaders[] = {
    {"OData-Version", "4.0"},
    {"X-Frame-Options", "DENY"},
    {"X-Content-Type-Options", "nosniff"},
};

// The age the engine's own option gives (strict_transport_security_max_age).
const char* const kStrictTransportSecurity = "max-age=15552000";
const char* const kBasicChallenge = "Basic realm=\"Redfish\"";

bool oneOf(std::string_view name, const char* const* names, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        if (equalsIgnoreCase(name, names[i]))
            return true;
    }
    return false;
}

template <size_t N> bool oneOf(std::string_view name, const char* const (&names)[N]) {
    return oneOf(name, names, N);
}

bool hasHeader(const HeaderList& headers, std::string_view name) {
    for (const auto& header : headers) {
        if (equalsIgnoreCase(header.first, name))
            return true;
    }
    return false;
}

bool isSafeText(std::string_view text) {
    for (char c : text) {
        if (c == '\r' || c == '\n' || c == '\0')
            return false;
    }
    return true;
}

// A Redfish error object, kept as its maker wrote it: it may say more than
// a message for the status could.
bool isRedfishError(const std::string& body) {
    json::Value object;
    if (!json::tryParseObject(body, object) || !object.contains("error") ||
        !object["error"].is_object())
        return false;
    const json::Value& error = object["error"];
    return error.contains("code") && error["code"].is_string();
}

// The top-level string member `key` (quoted, as "\"@odata.type\"") of a JSON
// object, found without building a document: most answers are never parsed.
// "" when absent or escaped.
std::string topLevelString(std::string_view body, std::string_view key) {
    int depth = 0;
    bool inString = false;
    for (size_t i = 0; i < body.size(); ++i) {
        const char c = body[i];
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
            continue;
        }
        if (c == '{' || c == '[') {
            ++depth;
        } else if (c == '}' || c == ']') {
            --depth;
        } else if (c == '"') {
            if (depth == 1 && body.compare(i, key.size(), key) == 0) {
                size_t at = body.find('"', i + key.size());
                const size_t colon = body.find(':', i + key.size());
                if (at == std::string_view::npos || colon == std::string_view::npos || colon > at)
                    return "";
                const size_t end = body.find('"', at + 1);
                if (end == std::string_view::npos)
                    return "";
                const std::string_view value = body.substr(at + 1, end - at - 1);
                return value.find('\\') == std::string_view::npos ? std::string(value) : "";
            }
            inString = true;
        }
    }
    return "";
}

} // namespace

long long answerBodyLength(const Answer& answer) {
    if (!answer.file)
        return static_cast<long long>(answer.body.size());
    std::FILE* file = answer.file.get();
    long long size = -1;
    if (std::fseek(file, 0, SEEK_END) == 0)
        size = std::ftell(file);
    std::rewind(file);
    return size < 0 ? 0 : size;
}

namespace {

bool isGetOrHead(const std::string& method) {
    return method == "GET" || method == "HEAD";
}

} // namespace

std::string entityTagOf(std::string_view body) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_Digest(body.data(), body.size(), digest, &size, EVP_sha256(), nullptr) != 1)
        return "";
    // 128 bits are plenty to tell two versions of a resource apart.
    std::string tag = "\"";
    char hex[3];
    for (unsigned int i = 0; i < 16 && i < size; ++i) {
        std::snprintf(hex, sizeof hex, "%02x", digest[i]);
        tag += hex;
    }
    return tag + "\"";
}

std::string resourceEntityTag(std::string_view body) {
    if (body.find("\"@odata.etag\"") != std::string_view::npos) {
        json::Value object;
        if (json::tryParseObject(std::string(body), object)) {
            const std::string own = json::memberText(object, "@odata.etag");
            const bool quoted = own.size() >= 2 && own.back() == '"' &&
                                (own.front() == '"' || own.rfind("W/\"", 0) == 0);
            if (quoted && isSafeText(own))
                return own;
        }
    }
    return entityTagOf(body);
}

bool entityTagListNames(std::string_view list, std::string_view tag) {
    size_t at = 0;
    while (at < list.size()) {
        size_t end = list.find(',', at);
        if (end == std::string_view::npos)
            end = list.size();
        std::string_view item = list.substr(at, end - at);
        while (!item.empty() && (item.front() == ' ' || item.front() == '\t'))
            item.remove_prefix(1);
        while (!item.empty() && (item.back() == ' ' || item.back() == '\t'))
            item.remove_suffix(1);
        if (item.rfind("W/", 0) == 0)
            item.remove_prefix(2);
        if (item == "*" || (!tag.empty() && item == tag))
            return true;
        at = end + 1;
    }
    return false;
}

std::string standardAnswerHead(const AnswerContext& request, Answer& answer, bool* sendBody) {
    // A header that could split the head is never sent; nor is the rest of
    // an answer that tried.
    bool safe = answer.status >= 100 && answer.status <= 599;
    for (const auto& header : answer.headers)
        safe =
            safe && !header.first.empty() && isSafeText(header.first) && isSafeText(header.second);
    if (!safe)
        answer = jsonAnswer(500, "");

    // An error is a Redfish error object, whoever made it.
    if (answer.status >= 400) {
        answer.file.reset();
        if (answer.registryError || !isRedfishError(answer.body))
            answer.body = redfisherror::forStatus(answer.status, request.path);
        HeaderList kept;
        for (auto& header : answer.headers) {
            if (!equalsIgnoreCase(header.first, "Content-Type"))
                kept.push_back(std::move(header));
        }
        kept.emplace(kept.begin(), "Content-Type", "application/json");
        answer.headers = std::move(kept);
    }

    HeaderList out;
    bool credential = false;
    for (auto& header : answer.headers) {
        if (oneOf(header.first, kWriterHeaders))
            continue;
        credential = credential || oneOf(header.first, kCredentialHeaders);
        out.push_back(std::move(header));
    }

    const bool read = isGetOrHead(request.method);
    int status = answer.status;
    *sendBody = request.method != "HEAD";
    if (read && status == 200 && !answer.file && !answer.body.empty()) {
        const std::string tag = resourceEntityTag(answer.body);
        if (!tag.empty()) {
            out.emplace_back("ETag", tag);
            if (!request.ifNoneMatch.empty() && entityTagListNames(request.ifNoneMatch, tag)) {
                status = 304;
                *sendBody = false;
            }
        }
        const std::string schema = jsonSchemaUriOf(topLevelString(answer.body, "\"@odata.type\""));
        if (!schema.empty() && isSafeText(schema))
            out.emplace_back("Link", "<" + schema + ">; rel=describedby");
    }
    // A 201 names what it created: the new resource's "@odata.id".
    if (status == 201 && !hasHeader(out, "Location")) {
        const std::string created = topLevelString(answer.body, "\"@odata.id\"");
        if (!created.empty() && created.front() == '/' && isSafeText(created))
            out.emplace_back("Location", created);
    }
    // A task monitor's own "Allow" says whether its task can still be cancelled.
    if (((read && status < 400) || status == 405 || request.method == "OPTIONS") &&
        !hasHeader(out, "Allow"))
        out.emplace_back("Allow", routeOf(request.path).allow);
    if (status == 401 && !hasHeader(out, "WWW-Authenticate"))
        out.emplace_back("WWW-Authenticate", kBasicChallenge);
    const bool noBody = status == 204 || status == 304 || status < 200;
    if (noBody) {
        *sendBody = false;
        for (auto it = out.begin(); it != out.end();) {
            it = equalsIgnoreCase(it->first, "Content-Type") ? out.erase(it) : it + 1;
        }
    } else {
        out.emplace_back("Content-Length", std::to_string(answerBodyLength(answer)));
    }
    out.emplace_back("Cache-Control", credential ? "no-store" : "no-cache");
    for (const auto& fixed : kFixedHeaders)
        out.emplace_back(fixed.first, fixed.second);
    if (request.tls)
        out.emplace_back("Strict-Transport-Security", kStrictTransportSecurity);
    out.emplace_back("Date", httpDate(std::time(nullptr)));
    out.emplace_back("Connection", request.keepAlive ? "keep-alive" : "close");

    std::string head = "HTTP/1.1 " + std::to_string(status) + " " +
                       mg_get_response_code_text(nullptr, status) + "\r\n";
    for (const auto& header : out)
        head += header.first + ": " + header.second + "\r\n";
    head += "\r\n";
    return head;
}

std::string standardAnswerBytes(const AnswerContext& request, Answer answer) {
    answer.file.reset();
    bool sendBody = false;
    std::string bytes = standardAnswerHead(request, answer, &sendBody);
    if (sendBody)
        bytes += answer.body;
    return bytes;
}
