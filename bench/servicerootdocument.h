// The service root document as the Redfish server answers GET /redfish/v1,
// for the reference server.
#ifndef TOLVANE_BENCH_SERVICEROOTDOCUMENT_H
#define TOLVANE_BENCH_SERVICEROOTDOCUMENT_H

#include <string>

namespace bench {

// Compact JSON text, members in the server's order; 756 bytes.
std::string serviceRootBody();

constexpr size_t kServiceRootBodySize = 756;

// The header block the server writes for a 200 JSON answer.
extern const char kFixedHeaderBlock[];

} // namespace bench

#endif
