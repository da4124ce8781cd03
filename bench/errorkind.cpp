#include "errorkind.h"

namespace bench {

const char* errorKindName(ErrorKind kind) {
    static const char* const names[kErrorKindCount] = {"ok",   "connect", "handshake", "send",
                                                       "read", "empty",   "malformed", "status"};
    return names[static_cast<int>(kind)];
}

} // namespace bench
