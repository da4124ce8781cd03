// Request and response trace records written to the trace file.
#ifndef TOLVANE_REDFISHTRACE_H
#define TOLVANE_REDFISHTRACE_H

#include <cstdint>

// Texts are written with their control characters escaped (logescape.h), so
// each record keeps its lines.
// One request record; an empty `arguments` text is written as "{}". Bodies
// have the values of "Password" members masked (see maskPasswords).
void writeRequestTrace(const char* method, const char* uri, const char* arguments);
// One response record with the status, its reason text and `data`.
void writeResponseTrace(const char* method, int32_t status, const char* data);

#endif
