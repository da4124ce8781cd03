// Which methods each resource takes, for the standard profile's Allow
// header and its 405 answers. The table is in allowedmethods.cpp.
#ifndef TOLVANE_ALLOWEDMETHODS_H
#define TOLVANE_ALLOWEDMETHODS_H

#include <string>
#include <string_view>

// The methods the resource at `path` takes, as the Allow header lists them
// ("GET, HEAD" for a resource the table does not name).
std::string allowedMethodsOf(std::string_view path);

#endif
