// The standard profile's rules: they turn a road's answer into what Redfish
// clients expect: a length, the OData version, caching and framing rules, an
// entity tag, the schema link, the allowed methods, and a Redfish error
// object for every error. One place decides every header.
#ifndef TOLVANE_STANDARDANSWER_H
#define TOLVANE_STANDARDANSWER_H

#include <string>
#include <string_view>

#include "answer/answer.h"

// What the writer needs to know of the request being answered.
struct AnswerContext {
    std::string method;      // as received: "GET", "HEAD", ...
    std::string path;        // the request's path
    bool tls = false;        // the connection is HTTPS
    bool keepAlive = false;  // the connection stays open after the answer
    std::string ifNoneMatch; // the request's If-None-Match ("" when absent)
};

// The head of the standard answer to `request`. The rules may replace the
// body (an error's object, also for a file answer to an error) and decide
// whether it is sent at all (HEAD, 204, 304): *sendBody. A file's length is
// taken from the file, which is left at its start.
std::string standardAnswerHead(const AnswerContext& request, Answer& answer, bool* sendBody);

// The length of the answer's body: its file's when it streams one.
long long answerBodyLength(const Answer& answer);

// Head and body of the standard answer to `request`, for an answer without a
// file.
std::string standardAnswerBytes(const AnswerContext& request, Answer answer);

// The strong entity tag of a body: a quoted hash of its bytes.
std::string entityTagOf(std::string_view body);

// The entity tag of a resource whose GET answers `body`: the resource's own
// "@odata.etag" when it states one (header and payload then agree), else
// entityTagOf(body).
std::string resourceEntityTag(std::string_view body);

// Whether an If-Match / If-None-Match value ("*" or a list of tags) names
// `tag`. Weak tags ("W/...") match their strong form, as If-None-Match asks.
bool entityTagListNames(std::string_view list, std::string_view tag);

#endif
