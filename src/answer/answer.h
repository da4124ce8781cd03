// One answer, as every road produces it: a status, header fields, and a body
// held in memory or a file to stream. The writer (answerwriter.h) sends it by
// the rules of the configured profile; nothing else writes to the client.
#ifndef TOLVANE_ANSWER_H
#define TOLVANE_ANSWER_H

#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

using HeaderList = std::vector<std::pair<std::string, std::string>>;

struct Answer {
    // The head the classic profile sends for this answer: the handler's own
    // fixed head, or the one the HTTP library writes (a login's 201 and an
    // upload's answer have always come that way).
    enum class ClassicHead { Fixed, Library };

    Answer(int status_ = 500, HeaderList headers_ = {}, std::string body_ = {})
        : status(status_), headers(std::move(headers_)), body(std::move(body_)) {}

    int status = 500;
    HeaderList headers; // in the order sent; "Content-Type" among them
    std::string body;
    std::shared_ptr<std::FILE> file; // when set, the body is this file's bytes
    ClassicHead classicHead = ClassicHead::Fixed;
    // The body is the classic profile's error text; the standard rules put
    // the registry's message for the status in its place.
    bool registryError = false;
};

// A JSON answer: "Content-Type: application/json", then `extra`.
Answer jsonAnswer(int status, std::string body, const HeaderList& extra = {});

// The value of the first field `name` (any letter case); "" when absent.
std::string headerValue(const HeaderList& headers, const char* name);

#endif
