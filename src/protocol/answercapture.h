// In the standard profile a request's answer is collected whole before any
// byte leaves, so one writer can give it the profile's headers, its length,
// its entity tag, or drop its body for HEAD. The handlers write through
// writeAnswerBytes and need not know whether a capture is active.
#ifndef TOLVANE_ANSWERCAPTURE_H
#define TOLVANE_ANSWERCAPTURE_H

#include <cstddef>
#include <string>

struct mg_connection;

// Collects everything written for `conn` while it lives.
class AnswerCapture {
  public:
    explicit AnswerCapture(const struct mg_connection* conn);
    ~AnswerCapture();
    AnswerCapture(const AnswerCapture&) = delete;
    AnswerCapture& operator=(const AnswerCapture&) = delete;

    // What was written so far; the capture is empty afterwards.
    std::string take();

  private:
    const struct mg_connection* conn_;
    std::string bytes_;
};

// Whether an answer for `conn` is being collected.
bool answerIsCaptured(const struct mg_connection* conn);

// Writes answer bytes: into the connection's capture when one is active,
// else to the client. The result is mg_write's (bytes written, or -1).
int writeAnswerBytes(struct mg_connection* conn, const char* data, size_t size);

#endif
