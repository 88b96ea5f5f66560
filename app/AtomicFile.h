#ifndef UPDATER_ATOMICFILE_H
#define UPDATER_ATOMICFILE_H

#include "aError.h"

#include <cstddef>
#include <string>

// Replaces the file at path with the given bytes so that a reader, also after a crash or a full disk,
// finds either the old file or the complete new one. The bytes go to a hidden temporary file in the same
// directory (a name beginning with "."), are flushed to the disk and renamed over path. Results:
// aErrNone; aErrNotFound when the temporary file cannot be created; aErrWrite when the bytes cannot all be
// written; aErrIO when flushing or renaming fails. On failure the temporary file is removed and the old
// file is left as it was.
aErr WriteFileAtomically(const std::string& path, const void* data, size_t length);

#endif
