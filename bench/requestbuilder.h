// The exact request bytes the load tool sends for each request kind.
#ifndef TOLVANE_BENCH_REQUESTBUILDER_H
#define TOLVANE_BENCH_REQUESTBUILDER_H

#include <string>

#include "loadoptions.h"

namespace bench {

// One complete HTTP/1.1 request of `kind`: request line, Host, the token as
// X-Auth-Token when given and the kind carries one, Content-Type and
// Content-Length for bodies, "Connection: close". `clientIndex` makes the
// uploaded file name and the multipart boundary differ between clients.
std::string buildRequest(RequestKind kind, const LoadOptions& options, const std::string& token,
                         int clientIndex);

// The login body: {"UserName":...,"Password":...} with JSON string escapes.
std::string loginBody(const std::string& user, const std::string& password);

} // namespace bench

#endif
