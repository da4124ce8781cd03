// Raw exchanges with a server on the loopback interface, for the fuzz targets
// that drive the running HTTP engine.
#ifndef TOLVANE_FUZZ_LOOPBACK_H
#define TOLVANE_FUZZ_LOOPBACK_H

#include <cstddef>
#include <string>

namespace fuzzsupport {

// A loopback TCP port that was free a moment ago; 0 when none could be had.
int freeLoopbackPort();

// Connects to 127.0.0.1:`port`, sends the bytes, ends the sending side (so an
// incomplete request ends now instead of at the server's time-out) and reads
// until the server closes or `timeoutMs` has passed. The bytes received; with
// `timedOut`, whether the time ran out first. Empty when no connection could
// be made.
std::string exchange(int port, const char* data, size_t size, int timeoutMs,
                     bool* timedOut = nullptr);

// Whether the server on `port` still serves: the well-formed `request` gets,
// within `timeoutMs`, an answer that begins with `expected`. Prints what it
// got otherwise.
bool stillAnswers(int port, const std::string& request, const std::string& expected, int timeoutMs);

} // namespace fuzzsupport

#endif
