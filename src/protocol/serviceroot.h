// The service root of the standard profile: a valid versioned ServiceRoot
// with the installation's UUID, the link to the sessions (where standard
// clients log in) and what the protocol supports, beside the same links to
// the resource collections as the classic root.
#ifndef TOLVANE_SERVICEROOT_H
#define TOLVANE_SERVICEROOT_H

#include <string>
#include <vector>

#include "protocol/owndocument.h"

// The installation's service UUID, made once and kept in `path`: read when
// the file holds one, else made anew and stored. "" when none can be kept.
std::string keptServiceUuid(const std::string& path);

// "<server directory>ServiceUUID".
std::string serviceUuidPath();

// The standard root as a plug-in style reply {"Data":...,"HttpStatus":200},
// linking the optional services in `served` too.
void buildStandardServiceRoot(std::string& out, const std::vector<RootCollection>& served);

#endif
