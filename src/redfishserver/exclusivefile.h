// Files the program creates once and never overwrites: the systemd unit and
// the server certificate.
#ifndef TOLVANE_EXCLUSIVEFILE_H
#define TOLVANE_EXCLUSIVEFILE_H

#if !defined(_WIN32)
#include <sys/types.h>

#include <string>

// Creates `path` holding `data` with exactly `mode` (the umask neither widens
// nor narrows it). Fails when anything, a symbolic link included, already has
// that name; nothing is written through a link. A file left half-written is
// removed. False with errno set on failure.
bool createExclusiveFile(const std::string& path, const std::string& data, mode_t mode);
#endif

#endif
