// Multipart form handling as the program uses it: the boundary of a
// multipart/form-data Content-Type, and the engine's form parser with a cap
// on the bytes it stores in files.
#ifndef TOLVANE_FORMREQUEST_H
#define TOLVANE_FORMREQUEST_H

#include <optional>
#include <string>
#include <string_view>

#include "civetweb.h"

// The boundary parameter of a multipart/form-data media type: parameters in
// any order and letter case, the value a token or a quoted string (RFC 7231
// 3.1.1.1), the boundary 1 to 70 of the characters RFC 2046 allows. Nothing
// for another type, a missing or repeated boundary, or a malformed list.
std::optional<std::string> multipartBoundary(std::string_view contentType);

enum class FormParse {
    Parsed,    // the form was read to its closing boundary
    Malformed, // malformed, cut short, or a callback stopped it with an error
    TooLarge,  // the files would have held more than the cap
};

// Runs the engine's form parser with `handler`; at most `maxFileBytes` are
// stored in files over the whole request. Past the cap reading stops and the
// file being written is closed and removed by the parser.
FormParse handleCappedForm(struct mg_connection* conn, struct mg_form_data_handler& handler,
                           long long maxFileBytes);

#endif
