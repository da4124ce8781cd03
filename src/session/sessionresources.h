// The session resources show the server's own session table. The plug-in
// hears of every login and logout, but a session it has forgotten stays
// listed and can still be ended, and one it lists that the server does not
// hold is no session. Likewise the session service's "SessionTimeout" is the
// idle time-out the table enforces, once one is set: the server keeps it.
#ifndef TOLVANE_SESSIONRESOURCES_H
#define TOLVANE_SESSIONRESOURCES_H

#include <cstdint>
#include <optional>
#include <string>

#include "routes/routetable.h"
#include "session/sessiontable.h"

// The plug-in reply to answer `method` on the normalised `path` (whose route
// is of `kind`) with, given
// the plug-in's own reply and the session the server held at `path` before
// the call. Ends that session on a DELETE whatever the plug-in answered.
// A read or change of the session service shows the idle time-out enforced.
// Any other request gets the plug-in's reply unchanged.
std::string sessionResourceReply(const std::string& method, const std::string& path, RouteKind kind,
                                 const std::string& pluginReply,
                                 const std::optional<SessionRecord>& heldBefore, int64_t now);

// Bounds of the idle time-out an administrator may set, and its value until
// one is set; the lifetime of a session is its upper bound.
constexpr int64_t kMinimumSessionTimeout = 30;
constexpr int64_t kDefaultSessionTimeout = 1800;

// Enforces the idle time-out kept in the file at `path`, or the default when
// there is none; later changes are kept there. Gives a line for the output
// log when the file was unusable, else "".
std::string loadSessionTimeout(const std::string& path);

// Whether the server itself, not the plug-in, answers `method` on a route of
// `kind`: a PATCH of the session service while an idle time-out is enforced.
bool serverChangesSessionService(const std::string& method, RouteKind kind);

// The reply to such a PATCH with `body`: a Redfish error that changes
// nothing, or, once the new time-out is kept and enforced, `current` (the
// plug-in's reply to a GET of the session service).
std::string changeSessionService(const std::string& body, const std::string& current);

#endif
