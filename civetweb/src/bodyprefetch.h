// Receiving a request body before the process-wide handler lock is taken, so
// that a slow sender does not hold up every other request.
#ifndef TOLVANE_BODYPREFETCH_H
#define TOLVANE_BODYPREFETCH_H

#include <cstddef>
#include <string>

#include "civetserver.h"

// Reads the whole body of the connection's current request into `body`: at
// most `maxBytes` (TooLarge when there is more), within `deadlineMs` of the
// start (Incomplete when the time is up or the client stops early; a value
// of 0 or less leaves only the engine's own request time-out, which a
// trickling sender can stretch without end). With a deadline only what has
// arrived is read, so no single read outlasts it. A request without a body
// is Complete with an empty text. `body` is empty unless Complete.
BodyPrefetch receiveRequestBody(struct mg_connection* conn, std::size_t maxBytes, int deadlineMs,
                                std::string& body);

#endif
