// What a request path means: one meaning for the server and the plug-in.
#ifndef TOLVANE_REQUESTPATH_H
#define TOLVANE_REQUESTPATH_H

#include <string_view>

// False when the decoded path holds a "?", "#" or a control character: the
// server and the plug-in could then read different resources from it. (An
// encoded NUL, which decoding turns into the path's end, is caught by the
// engine on the raw request line.)
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
