// The file-system side of uploads: the uploads directory and the files stored
// in it. POSIX in uploadfiles.cpp, Windows in uploadfiles_win.cpp.
#ifndef TOLVANE_UPLOADFILES_H
#define TOLVANE_UPLOADFILES_H

#include <string>

// Server directory + "uploads" (no trailing separator).
std::string uploadsDirectory(const std::string& serverDir);

// Creates `dir` (owner and group only) unless it exists as a directory.
// Returns 0, or the system's error number when it could not be created.
int ensureUploadsDirectory(const std::string& dir);

// Replaces whatever has the name `path` with a new, empty file readable by
// owner and group only, so the form parser writes the new upload into it.
// Returns false when the file could not be created.
bool createUploadFile(const std::string& path);

#endif
