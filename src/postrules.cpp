#include "postrules.h"

#include "gate/requestpath.h"

namespace {

char lowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
} // namespace

size_t findIgnoreCase(std::string_view text, std::string_view word) {
    if (word.size() > text.size())
        return std::string_view::npos;
    for (size_t i = 0; i + word.size() <= text.size(); ++i) {
        size_t k = 0;
        while (k < word.size() && lowerAscii(text[i + k]) == lowerAscii(word[k]))
            ++k;
        if (k == word.size())
            return i;
    }
    return std::string_view::npos;
}

bool containsIgnoreCase(std::string_view text, std::string_view word) {
    return findIgnoreCase(text, word) != std::string_view::npos;
}

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && findIgnoreCase(a, b) == 0;
}

std::string pluginUriOf(std::string_view path) {
    size_t at = findIgnoreCase(path, "/redfish");
    if (at == std::string_view::npos)
        return std::string(path);
    return std::string(path.substr(at));
}

std::string buildUploadActionArgument(std::string_view body, const std::string* logFilePath) {
    json::Value object;
    if (!json::parseObject(body, object))
        return "{}";
    // An ordered object keeps an existing member where it stands.
    object["absoluteFilePath"] = "";
    if (logFilePath)
        object["logFilePath"] = *logFilePath;
    return json::dump(object);
}

bool isAnswerableStatus(int64_t status) {
    return status >= 100 && status <= 599;
}

int32_t answerStatus(const json::Value& reply) {
    if (!json::hasMember(reply, "HttpStatus"))
        return 500;
    int64_t status = json::asInteger64(reply["HttpStatus"]);
    return isAnswerableStatus(status) ? static_cast<int32_t>(status) : 500;
}

bool isSafeHeaderValue(std::string_view value) {
    return value.find_first_of("\r\n") == std::string_view::npos;
}
