#ifndef UPDATER_STOREDIRECTORY_H
#define UPDATER_STOREDIRECTORY_H

#include "UpdaterDisplayInterface.h"

#include <string>

// Turns the -i directory (empty: ~/.korvalen) into the store root below it, "updater", and creates it
// with its missing parents. Reports a failure through the display and returns false.
bool ResolveStoreDirectory(UpdaterDisplayInterface& display, std::string& directory);

#endif
