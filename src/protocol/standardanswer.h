// The standard profile's answer writer. Handlers produce an answer as they
// always have (status line, a few header lines, the body); this turns it
// into what Redfish clients expect: a length, the OData version, caching and
// framing rules, an entity tag, the schema link, the allowed methods, and a
// Redfish error object for every error. One place decides every header.
#ifndef TOLVANE_STANDARDANSWER_H
#define TOLVANE_STANDARDANSWER_H

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// What the writer needs to know of the request being answered.
struct AnswerContext {
    std::string method;      // as received: "GET", "HEAD", ...
    std::string path;        // the request's path
    bool tls = false;        // the connection is HTTPS
    bool keepAlive = false;  // the connection stays open after the answer
    std::string ifNoneMatch; // the request's If-None-Match ("" when absent)
};

using HeaderList = std::vector<std::pair<std::string, std::string>>;

// An answer as a handler produced it.
struct ProducedAnswer {
    int status = 500;
    HeaderList headers;
    std::string body;
};

// Reads produced bytes: "HTTP/1.x <status> <text>" CR LF, header lines each
// ending in CR LF, an empty line, then the body to the end. Nothing when the
// bytes are not such an answer.
std::optional<ProducedAnswer> readProducedAnswer(std::string_view bytes);

// The bytes of the standard answer to `request`.
std::string standardAnswerBytes(const AnswerContext& request, ProducedAnswer answer);

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
