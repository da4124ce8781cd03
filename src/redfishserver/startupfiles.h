// The files a start (and the install command) prepares before the server
// listens: modes of new files, the log directory, the server certificate and
// an empty uploads directory.
#ifndef TOLVANE_STARTUPFILES_H
#define TOLVANE_STARTUPFILES_H

#include <string>

// Nothing the process creates from here on is readable by other users
// (POSIX umask 027); files that must be wider set their mode themselves.
void restrictNewFileModes();

// Creates the log directory (owner and group only) when it is missing.
void prepareLogDirectory();

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
