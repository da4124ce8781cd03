// Validation of one close-delimited HTTP response as the load tool received it.
#ifndef TOLVANE_BENCH_RESPONSECHECK_H
#define TOLVANE_BENCH_RESPONSECHECK_H

#include <string>

#include "errorkind.h"

namespace bench {

struct ResponseCheck {
    ErrorKind error = ErrorKind::None;
    int status = -1;      // the status code when the status line parsed
    std::string detail;   // why it failed, for the report
    size_t bodyBytes = 0; // bytes after the header block
};

// Checks `raw` (everything read until the server closed): a status line
// "HTTP/1.x NNN reason" ending in CR LF, header lines "name:value" each ending
// in CR LF, the blank line ending the block, a body that matches a
// Content-Length when one is given, and a status of `expectedClass` (1 to 5).
ResponseCheck checkResponse(const std::string& raw, int expectedClass);

// The value of the first header `name` (ignoring case) in the header block of
// `raw`, without surrounding blanks; "" when absent.
std::string responseHeader(const std::string& raw, const std::string& name);

} // namespace bench

#endif
