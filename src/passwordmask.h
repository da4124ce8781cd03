// Keeps passwords out of the trace file.
#ifndef TOLVANE_PASSWORDMASK_H
#define TOLVANE_PASSWORDMASK_H

#include <string>

// Returns `body` with the value of every member named "Password" (any letter
// case, any depth, the name in quotation marks or apostrophes, escapes
// resolved) replaced by the string "******", the rest of the text kept as it
// was written. Text that does not parse as JSON is masked the same way, by
// the text alone; where that cannot be sure to have found every password
// (the word elsewhere, a value of unclear end), the whole body is returned
// as "******". Text that nowhere spells the word is returned unchanged.
std::string maskPasswords(const std::string& body);

#endif
