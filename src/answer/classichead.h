// The classic profile's fixed head: the text the handler has always sent,
// ahead of a body that the end of the connection delimits.
#ifndef TOLVANE_CLASSICHEAD_H
#define TOLVANE_CLASSICHEAD_H

#include <string>

#include "answer/answer.h"

// Appends "HTTP/1.1 <status> <reason>\r\nContent-Type:<type>\r\nConnection:
// keep-alive\r\n\r\n" to `out`, the reason text from the handler's table;
// `extra` fields ("Name: value") go before the blank line. (The connection
// is closed after the answer all the same: the Connection line is what
// classic clients have always been sent.)
void appendResponseHead(std::string& out, int status, const char* contentType,
                        const HeaderList& extra = HeaderList());

// The reason text of `status` in the handler's answers (the classic table:
// "Ok", "Pre-condition Failed", "Expectation Failed" for any other status).
const char* classicStatusText(int status);

#endif
