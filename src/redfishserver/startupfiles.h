// The files a start (and the install command) prepares before the server
// listens: the server certificate.
#ifndef TOLVANE_STARTUPFILES_H
#define TOLVANE_STARTUPFILES_H

#include <string>

// Makes the server certificate when the configured file is missing. False
// when it is missing and cannot be made, or is refused; `message` is then the
// reason, and after a creation a note saying so (one line each).
bool prepareServerCertificate(std::string& message);

#endif
