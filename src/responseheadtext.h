// The text of the handler's response head, so that it can be sent together
// with the body in one write.
#ifndef TOLVANE_RESPONSEHEADTEXT_H
#define TOLVANE_RESPONSEHEADTEXT_H

#include <string>

struct mg_connection;

#include "replyheaders.h"

// Appends "HTTP/1.1 <status> <reason>\r\nContent-Type:<type>\r\nConnection:
// keep-alive\r\n\r\n" to `out`, the reason text from the handler's table;
// `extra` fields ("Name: value") go before the blank line.
void appendResponseHead(std::string& out, int status, const char* contentType,
                        const HeaderFields& extra = HeaderFields());

// The reason text of `status` in the handler's answers (the classic table:
// "Ok", "Pre-condition Failed", "Expectation Failed" for any other status).
const char* classicStatusText(int status);

// Writes all of `body` behind a head; the bytes written, or -1 when a write
// failed.
long long writeAnswerBody(struct mg_connection* conn, const std::string& body);

#endif
