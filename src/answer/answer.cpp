#include "answer/answer.h"

#include "postrules.h"

Answer jsonAnswer(int status, std::string body, const HeaderList& extra) {
    Answer answer;
    answer.status = status;
    answer.headers.reserve(1 + extra.size());
    answer.headers.emplace_back("Content-Type", "application/json");
    answer.headers.insert(answer.headers.end(), extra.begin(), extra.end());
    answer.body = std::move(body);
    return answer;
}

std::string headerValue(const HeaderList& headers, const char* name) {
    for (const auto& header : headers) {
        if (equalsIgnoreCase(header.first, name))
            return header.second;
    }
    return "";
}
