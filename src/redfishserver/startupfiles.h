// The files a start (and the install command) prepares before the server
// listens: the server certificate and an empty uploads directory.
#ifndef TOLVANE_STARTUPFILES_H
#define TOLVANE_STARTUPFILES_H

#include <string>

// Makes the server certificate when the configured file is missing. False
// when it is missing and cannot be made, or is refused; `message` is then the
// reason, and after a creation a note saying so (one line each).
bool prepareServerCertificate(std::string& message);

// Creates the uploads directory (owner and group only) or removes every file
// and link left in it: an upload left by an earlier run, a crash for
// instance, must never be handed to the plug-in. False with `message` when
// that cannot be done.
bool emptyUploadsDirectory(std::string& message);

#endif
