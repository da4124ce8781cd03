// The session resources show the server's own session table. The plug-in
// hears of every login and logout, but a session it has forgotten stays
// listed and can still be ended, and one it lists that the server does not
// hold is no session.
#ifndef TOLVANE_SESSIONRESOURCES_H
#define TOLVANE_SESSIONRESOURCES_H

#include <cstdint>
#include <optional>
#include <string>

#include "session/sessiontable.h"

// The plug-in reply to answer `method` on the normalised `path` with, given
// the plug-in's own reply and the session the server held at `path` before
// the call. Ends that session on a DELETE whatever the plug-in answered.
// Any other request gets the plug-in's reply unchanged.
std::string sessionResourceReply(const std::string& method, const std::string& path,
                                 const std::string& pluginReply,
                                 const std::optional<SessionRecord>& heldBefore, int64_t now);

#endif
