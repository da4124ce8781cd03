// The stop control's way into the server routine. The service layer (the
// Windows control handler, the POSIX signal watcher) only asks; the server
// routine's own thread then stops the HTTP server, shuts the plug-in down and
// releases the HTTP library, so no request can reach a shut-down plug-in.
#ifndef TOLVANE_STOPREQUEST_H
#define TOLVANE_STOPREQUEST_H

#include <atomic>

// Set when the server routine is to end; read by its run loop.
extern std::atomic<bool> gStopRequested;

// Asks the running (or starting) server routine to stop; returns at once.
// Callable from any thread, but not from a signal handler.
void requestServerStop();

// Whether a stop has been asked for.
bool serverStopPending();

#endif
