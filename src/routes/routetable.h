// The one route table: what the server knows of a resource before the
// plug-in answers for it. Each row names a URI pattern with the road a
// request takes there, the methods the resource allows, the POST targets
// that take an upload, and where the plug-in, not the gate, decides who may
// act. The privileges come from DMTF's Privilege Registry (privileges.h);
// a plug-in that declares its resources (declaredresources.h) replaces the
// methods and the upload targets of the rows.
#ifndef TOLVANE_ROUTETABLE_H
#define TOLVANE_ROUTETABLE_H

#include <string_view>

#include "session/privileges.h"

// A POST target that takes a multipart upload.
struct OemUploadAction {
    const char* name;
    bool withLogFile; // the argument carries "logFilePath"
};

// The road a request on the resource takes beside the plug-in call.
enum class RouteKind : unsigned char {
    Resource,          // the plug-in's alone
    ServiceRoot,       // the server's own document: read only
    SessionService,    // the server keeps the idle time-out it shows
    SessionCollection, // a POST is a login; the member list is the server's
    SessionMember,     // a session the server keeps
    AccountMember,     // an account: its user's sessions follow its changes
    // The server's own certificate resources (it holds the key): answered by
    // the server after the gate, never by the plug-in.
    CertificateService,
    CertificateLocations,
    HttpsCertificates, // the collection of the certificate TLS presents
    HttpsCertificate,  // that certificate
    GenerateCsr,
    ReplaceCertificate,
    GenerateCsrInfo, // the parameters each action takes (ActionInfo)
    ReplaceCertificateInfo,
};

// Whether the server answers the resource itself: then a method its Allow
// list lacks is refused, and no plug-in hears of the request.
bool answeredByServer(RouteKind kind);

struct Route {
    RouteKind kind = RouteKind::Resource;
    const char* allow = "GET, HEAD";         // the Allow list; lives as long as the process
    const OemUploadAction* upload = nullptr; // a POST there takes an uploaded file
    // Methods ("DELETE") for which the plug-in, which knows the resource's
    // owner, decides who may act: the gate asks only for a login.
    const char* ownerDecidedBy = nullptr;
};

// The route of the normalised request path `path` ("/redfish/v1/...";
// letter case and empty segments do not matter, except that a login takes
// the session collection's own spelling, with one trailing "/" at most).
Route routeOf(std::string_view path);

// The privilege rule for `method` on `path`, whose route is `route`.
AccessRule accessRuleFor(const Route& route, std::string_view method, std::string_view path);

#endif
