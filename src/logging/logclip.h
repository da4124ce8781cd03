// Request-derived text (a URI, a user name, a file name) is shortened before
// it enters a log line: a client choosing a 7 KB URI must not choose how fast
// the log rolls over. The cut never splits a UTF-8 sequence and is marked, so
// a reader knows the line does not hold the whole text.
#ifndef TOLVANE_LOGCLIP_H
#define TOLVANE_LOGCLIP_H

#include <cstddef>
#include <string>
#include <string_view>

#include "logescape.h"

namespace logtext {

// Most bytes of one request-derived text a log line keeps.
constexpr size_t kRequestTextLimit = 256;

// `text` when it has at most `limit` bytes; else its first bytes up to a
// character boundary at or before `limit`, followed by "...[cut N bytes]"
// with N the bytes left out.
std::string clipped(std::string_view text, size_t limit = kRequestTextLimit);

// A clipped text for a log line argument: the text itself (no copy) when
// short enough, else a clipped copy. Null stays null.
class Clipped : public LineText {
  public:
    explicit Clipped(const char* text, size_t limit = kRequestTextLimit);
    explicit Clipped(const std::string& text, size_t limit = kRequestTextLimit)
        : Clipped(text.c_str(), limit) {}
};

} // namespace logtext

#endif
