// The gate every request passes before its plug-in call: the path's meaning,
// failed-login throttling, the session, cross-site rules and privileges. It
// writes the refusal itself; nothing after it checks again.
#ifndef TOLVANE_REQUESTGATE_H
#define TOLVANE_REQUESTGATE_H

#include <functional>
#include <optional>
#include <string>

#include "jsonadapter.h"
#include "routes/routetable.h"
#include "session/basicauth.h"
#include "session/sessiontable.h"

struct mg_connection;

struct GateRequest {
    std::string method; // as handled (after any override)
    std::string path;   // normalised: escapes decoded, dot segments resolved
    bool multipart = false;
    bool exempt = false; // readable without a session
    // Set by the front door from the route table:
    Route route;
    bool login = false; // a POST to the session collection
};

// The plug-in's GET reply text for a URI; the gate reads an account's
// "UserName" with it.
using ResourceReader = std::function<std::string(const std::string& uri)>;
// The "Data" object of a plug-in's 200 reply (also when sent as a JSON
// string); null for any other reply.
json::Value resourceData(const std::string& reply);

// The request body, read on demand.
using BodyReader = std::function<const std::string&()>;

// Checks HTTP Basic credentials through the plug-in's login: the login they
// stand for (never stored in the session table), or nullopt.
using BasicLogin = std::function<std::optional<SessionRecord>(const BasicCredentials&)>;

struct GateOutcome {
    bool pass = false;                    // false: the refusal has been written
    std::optional<SessionRecord> session; // the caller's session, when it has one
    std::string accountUser;              // "UserName" of the account a write addresses
};

// The raw path as sent (percent escapes intact) of the request.
std::string rawRequestPath(struct mg_connection* conn);

// `basicLogin` (standard profile only; may be empty) is asked when a request
// carries no session but Basic credentials.
GateOutcome passGate(struct mg_connection* conn, const GateRequest& request,
                     const ResourceReader& readResource, const BodyReader& readBody,
                     const BasicLogin& basicLogin = BasicLogin());

#endif
