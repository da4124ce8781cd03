// The one writer of answers. Every road hands its answer here, and only here
// is the profile asked how an answer goes on the wire: the classic profile's
// fixed head (or the library's) and a body the connection's end delimits, or
// the standard profile's headers, length and framing.
#ifndef TOLVANE_ANSWERWRITER_H
#define TOLVANE_ANSWERWRITER_H

#include "answer/answer.h"
#include "answer/standardanswer.h"

struct mg_connection;

// Sends `answer` to the request on `conn`: the body bytes sent (a file's
// included), or -1 when a write failed.
long long sendAnswer(struct mg_connection* conn, Answer answer);

// What the standard rules need to know of the request on `conn`.
AnswerContext answerContextOf(struct mg_connection* conn);

#endif
