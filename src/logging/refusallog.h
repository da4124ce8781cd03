// Requests refused before authentication (a bad path, no valid credentials,
// too many failed logins) each leave one short INFO line in the operational
// log, a few per client address and minute: enough to see who knocks,
// too few for a flood to roll the log over.
#ifndef TOLVANE_REFUSALLOG_H
#define TOLVANE_REFUSALLOG_H

#include <string>

// "Refused <status> to <address>: <uri, clipped>", or nothing when the
// address (or all addresses together) has used up this minute's lines; the
// first line let through afterwards is preceded by the count left out.
void logRefusal(const std::string& address, int status, const std::string& uri);

#endif
