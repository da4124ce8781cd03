// The text of the handler's response head, so that it can be sent together
// with the body in one write.
#ifndef TOLVANE_RESPONSEHEADTEXT_H
#define TOLVANE_RESPONSEHEADTEXT_H

#include <string>

#include "replyheaders.h"

// Appends "HTTP/1.1 <status> <reason>\r\nContent-Type:<type>\r\nConnection:
// keep-alive\r\n\r\n" to `out`, the reason text from the handler's table;
// `extra` fields ("Name: value") go before the blank line.
void appendResponseHead(std::string& out, int status, const char* contentType,
                        const HeaderFields& extra = HeaderFields());

#endif
