// The classic profile's other head, written with the library's
// response-header functions. Once anything has gone out on the connection
// (the interim "100 Continue" answer), the library refuses to start a head;
// the same bytes are then written directly, so callers need not care which
// way the head went.
#ifndef TOLVANE_LIBRARYHEAD_H
#define TOLVANE_LIBRARYHEAD_H

#include <ctime>
#include <string>
#include <utility>
#include <vector>

struct mg_connection;

// "Sun, 06 Nov 1994 08:49:37 GMT": the Date header's form of `now`.
std::string httpDate(std::time_t now);

class ResponseHead {
  public:
    explicit ResponseHead(struct mg_connection* conn) : conn_(conn) {}

    // 0 when started; otherwise the library's result (-1 for a status outside
    // 100..999) and nothing has been sent.
    int start(int status);
    void add(const std::string& name, const std::string& value);
    // Sends the status line, the added headers, a Date header and the blank
    // line. 0 on success.
    int send();

  private:
    struct mg_connection* conn_;
    int status_ = 0;
    bool direct_ = false; // written by us rather than by the library
    std::vector<std::pair<std::string, std::string>> headers_;
};

// Sends "HTTP/1.1 100 Continue" when an HTTP/1.1 client asked for it with
// "Expect: 100-continue", so it sends its body without waiting for its own
// time-out. Returns whether the interim answer was sent. Call before the body
// is read and only where the body will be read.
bool sendInterimContinue(struct mg_connection* conn);

#endif
