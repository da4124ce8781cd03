// Installation and log directories, and the output log.
#ifndef TOLVANE_INSTALLPATHS_H
#define TOLVANE_INSTALLPATHS_H

#include <cstddef>
#include <string>

constexpr size_t kPathBufferSize = 1024;

#if defined(_WIN32)
#define TOLVANE_PATH_SEP "\\"
#define TOLVANE_PLUGIN_SUFFIX ".dll"
#else
#define TOLVANE_PATH_SEP "/"
#define TOLVANE_PLUGIN_SUFFIX ".so"
#endif

// Filled once at start-up by mainRedfishServer, read-only afterwards.
extern char gInstallPath[kPathBufferSize];  // ends with a separator (plain prefix)
extern char gLogDirectory[kPathBufferSize]; // ends with a separator, or empty
extern char gOutLogPath[kPathBufferSize];   // gLogDirectory + "RedfishServer.out.log"

// Installation directory into `buffer` (kPathBufferSize bytes). Returns 0 on
// success, non-zero when the value could not be read (buffer left untouched).
// POSIX: $TOLVANE_INSTALL_PATH, else the folder above the executable's folder.
int readInstallPath(char* buffer);

// Log directory into `buffer` (kPathBufferSize bytes), a separator appended
// when missing; an empty value stays empty. Always returns 0.
// POSIX: $TOLVANE_LOG_DIR, else the install path followed by "logs/".
int readLogDirectory(char* buffer);

// Server directory: install path + "RedfishServer" + separator.
std::string serverDirectory();

// Composes gOutLogPath from gLogDirectory; left empty (so the output log is
// dropped) when the result would not fit the buffer.
void composeOutLogPath();

// Appends a printf-formatted message to gOutLogPath (no time stamp, no line
// end added); dropped silently when the file cannot be opened.
void WriteOutLog(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

#endif
