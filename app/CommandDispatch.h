#ifndef UPDATER_COMMANDDISPATCH_H
#define UPDATER_COMMANDDISPATCH_H

#include "UpdaterDisplayInterface.h"

// Runs one command line: scans it, prints the version line, resolves and creates the store directory
// and runs the requested commands in their fixed order (-N, -G, then the first of -D, -U, -B, -L, -J).
// Returns the process exit status, 0 for success and 1 for failure.
int RunCommandLine(UpdaterDisplayInterface& display, int argc, char* const* argv);

#endif
