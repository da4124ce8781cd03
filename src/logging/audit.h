// The audit record: who logged in, failed to, logged out, ended a session or
// changed an account or the TLS certificate, in "RedfishAudit.log" in the log directory. Only these
// events are written there, with a roll-over of its own, so no amount of
// ordinary traffic rolls it over; failed logins, the one kind a client
// without credentials can cause, are limited per address and in all, with
// the count of what was left out. One line per event:
//   <UTC time> address=<a> user="<name>" event=<Event> outcome=<status> [detail]
// Never a password or a token.
#ifndef TOLVANE_AUDIT_H
#define TOLVANE_AUDIT_H

#include <string>

#include "routes/routetable.h"

enum class AuditEvent {
    Login,      // a session login (POST to the session collection)
    BasicLogin, // HTTP Basic credentials checked with the plug-in
    SessionDelete,
    AccountCreate,
    AccountChange,
    AccountDelete,
    CertificateChange, // a signing request's new key, or a certificate installed
};

// `status` is the HTTP status the event was answered with; `detail` is text
// the server chose (a path, member names), clipped like any request text.
void auditRecord(AuditEvent event, const std::string& address, const std::string& user, int status,
                 const std::string& detail = std::string());

// The audit part of a plug-in's answer to `method` on `path` (a route of
// `kind`): session
// deletions (logouts and revocations) and account changes. `actingUser` is
// the caller's account, `accountUser` that of the account addressed (PATCH
// and DELETE), `body` the request's: only its member names are recorded.
void auditPluginAnswer(const std::string& method, const std::string& path, RouteKind kind,
                       const std::string& address, const std::string& actingUser,
                       const std::string& accountUser, int status, const std::string& body);

// The same for a POST whose plug-in reply is `reply`: account creation.
void auditPostReply(const std::string& path, const std::string& address,
                    const std::string& actingUser, const std::string& body,
                    const std::string& reply);

// "RedfishAudit.log" in the log directory.
std::string auditFilePath();

#endif
