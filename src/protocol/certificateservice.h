// The certificate service: the server's own resources for the certificate it
// presents over TLS (it alone holds the key), and the actions that make a
// new key with a signing request and install a signed certificate.
#ifndef TOLVANE_CERTIFICATESERVICE_H
#define TOLVANE_CERTIFICATESERVICE_H

#include <string>

#include "answer/answer.h"
#include "routes/routetable.h"

// The document of a certificate resource (a read of route `kind`).
Answer certificateDocument(RouteKind kind);

// The answer of a certificate action (a POST of route `kind`) with the JSON
// request `body`: 200 with the action's result, 400 with a Redfish error
// naming the parameter at fault (nothing changed then), 500 when the new
// file cannot be stored (the old one stays in service).
Answer certificateAction(RouteKind kind, const std::string& body);

#endif
