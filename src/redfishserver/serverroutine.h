// The server routine: start-up, run loop and shutdown.
#ifndef TOLVANE_SERVERROUTINE_H
#define TOLVANE_SERVERROUTINE_H

#include <string>

#include "stoprequest.h"

void mainRedfishServer();
std::string chooseHostAddress();

#endif
