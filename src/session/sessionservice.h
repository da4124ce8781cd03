// Login, Basic authentication and revocation: the server's side of every
// credential. The handler's roads call it; nothing else opens or ends a login.
#ifndef TOLVANE_SESSIONSERVICE_H
#define TOLVANE_SESSIONSERVICE_H

#include <cstdint>
#include <optional>
#include <string>

#include "answer/answer.h"
#include "gate/requestgate.h"
#include "plugincall/plugincalls.h"
#include "session/basicauth.h"
#include "session/sessiontable.h"

struct mg_connection;

class SessionService {
  public:
    // `sessionTimeout`: the cookie's lifetime in seconds.
    explicit SessionService(int32_t sessionTimeout) : sessionTimeout_(sessionTimeout) {}

    // A POST to the session collection, answered: the plug-in's login, the
    // session stored (or refused), and the 201 with token, Location and cookie.
    // `host` is the host name the plug-in is told.
    void login(struct mg_connection* conn, const std::string& pluginUri, const std::string& body,
               const std::string& host, PluginCalls& calls) const;

    // Checks Basic credentials with a login at the plug-in that leaves no
    // session behind; verdicts are cached briefly.
    std::optional<SessionRecord> verifyBasic(PluginCalls& calls, const std::string& address,
                                             const BasicCredentials& credentials,
                                             const std::string& hostName) const;

    // After a plug-in answer with `status`: a deleted account, or one whose
    // password, role, enabled or locked state, name or Oem privileges changed,
    // ends its user's sessions (a password change keeps the session that made
    // it). Logouts are the session resources' affair (sessionresources.h).
    static void afterAccountChange(const GateRequest& request, const GateOutcome& outcome,
                                   int status, const std::string& body);

  private:
    // Stores the session of a successful login unless the role rules refuse
    // it (RoleRefused in the standard profile); when the server refuses it
    // the plug-in's session is ended, as are the sessions evicted to make room.
    AddSessionResult openSession(SessionRecord record, SessionAdmission admission,
                                 PluginCalls& calls) const;
    // Ends the plug-in's session at `location` (its answer does not matter).
    static void endPluginSession(PluginCalls& calls, const std::string& location);
    // The privileges of a role, from the plug-in's role document when it
    // serves one, else those of the standard role of that name.
    static PrivilegeSet rolePrivileges(const std::string& roleId, PluginCalls& calls);
    // A login's 201: the session's Location, its token and cookie, the body
    // still to come.
    Answer loginAnswer(const std::string& token, const std::string& location, bool tls) const;

    int32_t sessionTimeout_;
};

#endif
