// Keeps passwords out of the trace file.
#ifndef TOLVANE_PASSWORDMASK_H
#define TOLVANE_PASSWORDMASK_H

#include <string>

// When `body` is JSON, returns it with the value of every member named
// "Password" (any letter case, any depth) replaced by the string "******",
// the rest of the text kept as it was written. Any other text is returned
// unchanged.
std::string maskPasswords(const std::string& body);

#endif
