// The program's command words.
#ifndef TOLVANE_COMMANDLINE_H
#define TOLVANE_COMMANDLINE_H

// Examines only the first argument, exactly and case-sensitively: "help",
// "run", "install", "uninstall"; anything else (or nothing) is service mode.
// Returns the process's exit code (0; fatal start-up failures end the process
// with 1 themselves).
int runCommandLine(int argc, char** argv);

void printUsage();

#endif
