// The server routine: start-up, run loop and shutdown.
#ifndef TOLVANE_SERVERROUTINE_H
#define TOLVANE_SERVERROUTINE_H

#include <atomic>
#include <string>

// Set by the stop control; read by the run loop.
extern std::atomic<bool> gStopRequested;

void mainRedfishServer();
std::string chooseHostAddress();

#endif
