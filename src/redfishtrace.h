// Request and response trace records written to the trace file.
#ifndef TOLVANE_REDFISHTRACE_H
#define TOLVANE_REDFISHTRACE_H

#include <cstdint>

// One request record; an empty `arguments` text is written as "{}". JSON
// bodies have the values of "Password" members masked.
void writeRequestTrace(const char* method, const char* uri, const char* arguments);
// One response record with the status, its reason text and `data`.
void writeResponseTrace(const char* method, int32_t status, const char* data);

#endif
