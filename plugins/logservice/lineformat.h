// Formatting of log lines. The server's lines use only plain conversions
// (%s, %d and the like); those are formatted here directly, which costs far
// less than the C library's general printf. Anything else is left to it.
#ifndef TOLVANE_LINEFORMAT_H
#define TOLVANE_LINEFORMAT_H

#include <cstdarg>
#include <string>

namespace tolvane::logservice {

// Appends `format` with its arguments to `out`, as vsnprintf would write it,
// when every conversion is one of %s %c %d %i %u (with h, l, ll, z or j
// before d, i or u) or %%, without flags, width or precision. Returns false,
// with `out` unchanged, for any other format; `args` is then used up, so the
// caller formats from a copy.
bool formatPlainLine(std::string& out, const char* format, va_list args);

// The whole line: the plain way when it applies, else vsnprintf.
void formatLine(std::string& out, const char* format, va_list args);

} // namespace tolvane::logservice

#endif
