#ifndef UPDATER_ATOMICFILE_H
#define UPDATER_ATOMICFILE_H

#include "aError.h"

#include <cstddef>
#include <string>

// Replaces the file at path with the given bytes whole or not at all (ReplaceFile), so that a reader, also
// after a crash or a full disk, finds either the old file or the complete new one. Results: aErrNone;
// aErrNotFound when the file cannot be opened for writing; aErrWrite when the bytes cannot all be written;
// aErrIO when flushing or renaming fails. On failure the old file is left as it was.
aErr WriteFileAtomically(const std::string& path, const void* data, size_t length);

#endif
