// What a request path means: one meaning for the server and the plug-in.
#ifndef TOLVANE_REQUESTPATH_H
#define TOLVANE_REQUESTPATH_H

#include <string_view>

// False when the raw (still percent-encoded) path, once decoded, would hold a
// "?", "#", a control character or NUL, or holds a malformed escape: the
// server and the plug-in could then read different resources from it.
bool pathHasOneMeaning(std::string_view rawPath);

// The same rule for a path the HTTP library has already decoded: no "?",
// "#" or control character may remain in it.
bool decodedPathHasOneMeaning(std::string_view path);

// The normalised path is exactly the session collection
// ("/redfish/v1/SessionService/Sessions", one trailing "/" allowed; letter
// case ignored as for every path comparison).
bool isSessionCollection(std::string_view path);

// "/redfish/v1/AccountService/Accounts/<id>" (one trailing "/" allowed).
bool isAccountMember(std::string_view path);

// "/redfish/v1/SessionService/Sessions/<id>" (one trailing "/" allowed).
bool isSessionMember(std::string_view path);

// Two paths that name the same resource: letter case and one trailing "/"
// do not matter.
bool samePath(std::string_view a, std::string_view b);

#endif
