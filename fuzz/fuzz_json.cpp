// The JSON adapter and the conversions of plug-in replies: the reply
// envelope (convertPluginReply), the login reply (token, masking, cookie
// headers) and file answers. None may crash or throw anything but bad_alloc,
// whatever the text, and each keeps its promises about what it gives back.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

#include "compactreply.h"
#include "jsonadapter.h"
#include "loginrules.h"
#include "postrules.h"
#include "redfishserverhandler.h"
#include "support/fuzzcheck.h"

namespace {

void checkAdapter(const std::string& text) {
    json::Value v;
    if (json::parseObject(text, v)) {
        std::string printed = json::dump(v);
        json::Value again;
        // Compact output of a parsed object is itself a valid object.
        FUZZ_CHECK(json::parseObject(printed, again));
        for (auto it = v.begin(); it != v.end(); ++it) {
            (void)json::asText(*it);
            (void)json::asInteger(*it);
            (void)json::asConfigInteger(*it);
            (void)json::memberText(v, it.key().c_str());
        }
    }
    (void)json::leadingInteger(text);
}

// The envelope as the GET, PATCH and DELETE answers read it.
void checkEnvelope(const std::string& text) {
    std::string body;
    const int32_t status = convertPluginReply(text.c_str(), body);
    FUZZ_CHECK(status >= 100 && status <= 599);
}

// A successful login reply: the token from "response"."Headers", the masked
// log text and the cookie headers.
void checkLogin(const std::string& text, const json::Value& root, int32_t timeout) {
    const std::string headers = getResponseHeadersText(root);
    std::string token;
    getJsonMemberText(headers.c_str(), "X-Auth-Token", token);
    const std::string masked = maskToken(text, token);
    if (!token.empty() && token.find('*') == std::string::npos)
        FUZZ_CHECK(masked.find(token) == std::string::npos);
    if (token.empty())
        FUZZ_CHECK(masked == text);
    const std::string cookie = sessionCookieText(token);
    const auto fields = sessionCookieHeaderFields(cookie, timeout, std::time(nullptr));
    FUZZ_CHECK(fields.size() == 3);
    FUZZ_CHECK(isSafeHeaderValue(fields[1].second) && isSafeHeaderValue(fields[2].second));
    (void)buildLoginArgument(token, text);
}

// A file answer: "Data" is itself an object naming the file and its type.
void checkFileAnswer(const json::Value& root) {
    const int32_t status = answerStatus(root);
    FUZZ_CHECK(status >= 100 && status <= 599);
    json::Value data;
    if (!json::parseObject(json::memberText(root, "Data"), data))
        return;
    const std::string contentType = json::memberText(data, "contentType");
    if (isSafeHeaderValue(contentType))
        FUZZ_CHECK(contentType.find_first_of("\r\n") == std::string::npos);
    (void)json::memberText(data, "fileName");
}

// An upload action's argument: an object whose file path only the server sets.
void checkUploadArgument(const std::string& text) {
    json::Value argument;
    FUZZ_CHECK(json::parseObject(buildUploadActionArgument(text, nullptr), argument));
    json::Value body;
    if (json::parseObject(text, body))
        FUZZ_CHECK(json::memberText(argument, "absoluteFilePath").empty() &&
                   json::hasMember(argument, "absoluteFilePath"));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    checkAdapter(text);
    checkEnvelope(text);
    json::Value root;
    if (json::parseObject(text, root)) {
        int32_t timeout = 0;
        for (size_t i = 0; i < size && i < 4; ++i)
            timeout = static_cast<int32_t>((static_cast<uint32_t>(timeout) << 8) | data[i]);
        checkLogin(text, root, timeout);
        checkFileAnswer(root);
    }
    checkUploadArgument(text);
    return 0;
}
