// What a request path means: one meaning for the server and the plug-in.
#ifndef TOLVANE_REQUESTPATH_H
#define TOLVANE_REQUESTPATH_H

#include <string>
#include <string_view>
#include <vector>

// The non-empty segments of a path: "//" and a trailing "/" add none, as the
// plug-in reads paths too.
std::vector<std::string_view> pathSegments(std::string_view path);

// The path rebuilt from its segments ("/" for none).
std::string canonicalPath(std::string_view path);

// False when the decoded path holds a "?", "#" or a control character: the
// server and the plug-in could then read different resources from it. (An
// encoded NUL, which decoding turns into the path's end, is caught by the
// engine on the raw request line.)
bool decodedPathHasOneMeaning(std::string_view path);

// Two paths that name the same resource: letter case and empty segments do
// not matter.
bool samePath(std::string_view a, std::string_view b);

#endif
