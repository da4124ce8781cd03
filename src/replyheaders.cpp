#include "replyheaders.h"

#include "jsonadapter.h"
#include "postrules.h"

namespace {

const char* const kPluginAnswerHeaders[] = {"Location", "Retry-After", "Allow"};
constexpr size_t kMaxHeaderValue = 2048;

} // namespace

HeaderFields pluginReplyHeaders(std::string_view reply) {
    HeaderFields fields;
    // Most replies name no header: they are not parsed a second time.
    if (reply.find("\"Headers\"") == std::string_view::npos)
        return fields;
    json::Value root;
    if (!json::tryParseObject(reply, root) || !json::hasMember(root, "Headers") ||
        !root["Headers"].is_object())
        return fields;
    for (const char* name : kPluginAnswerHeaders) {
        for (auto it = root["Headers"].begin(); it != root["Headers"].end(); ++it) {
            if (!equalsIgnoreCase(it.key(), name) || !it.value().is_string())
                continue;
            const std::string value = it.value().get<std::string>();
            if (!value.empty() && value.size() <= kMaxHeaderValue && isSafeHeaderValue(value))
                fields.emplace_back(name, value);
            break;
        }
    }
    return fields;
}
