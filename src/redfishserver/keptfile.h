// Small files the server keeps across restarts in its own directory.
#ifndef TOLVANE_KEPTFILE_H
#define TOLVANE_KEPTFILE_H

#include <string>

// Replaces the file at `path` with `text`, written whole under another name
// first so that a crash leaves the old file or the new one, never half of
// one. False, with the old file unchanged, when that fails.
bool replaceKeptFile(const std::string& path, const std::string& text);

#endif
