// What the server's own documents share: the collections the service root
// links, the link object, and the reply envelope an own document is built
// in before it passes the same reply conversion as a plug-in's answer.
#ifndef TOLVANE_OWNDOCUMENT_H
#define TOLVANE_OWNDOCUMENT_H

#include <string>
#include <vector>

#include "jsonadapter.h"

struct RootCollection {
    const char* name; // member of the service root
    const char* uri;
};

// In the order the service root lists them.
extern const RootCollection kRootCollections[10];

// Services the standard root links after those, each only when the plug-in
// serves it (classic roots never change).
extern const RootCollection kOptionalRootServices[2];

// Services only the standard root links, always (the server's own).
extern const RootCollection kStandardRootServices[1];

// {"@odata.id": uri}
json::Value resourceLink(const char* uri);

// {"Data": document, "HttpStatus": 200} as compact text in `out`.
void wrapInReply(const json::Value& document, std::string& out);

#endif
