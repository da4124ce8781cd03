// The server's host name as a request's Host header gives it.
#ifndef TOLVANE_HOSTHEADER_H
#define TOLVANE_HOSTHEADER_H

#include <string>
#include <string_view>

// The host part of a Host header value: the text before the first ":", or a
// leading bracketed IPv6 address whole (brackets included). "" when that
// leaves nothing, in which case the caller keeps the name it has.
std::string hostNameFromHostHeader(std::string_view value);

#endif
