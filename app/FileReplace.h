#ifndef UPDATER_FILEREPLACE_H
#define UPDATER_FILEREPLACE_H

#include "aFile.h"

#include <functional>
#include <string>

struct ReplaceFileResult {
    bool opened; // the temporary file beside the target could be created
    int error;   // 0 when the target was replaced, else the system error number of the first failure
};

// Replaces the file at path whole or not at all: write fills a temporary file in the same directory,
// which is flushed to disk and then renamed over path. On any failure the temporary file is removed and
// path is left as it was. A target the caller may not write is refused, as writing it in place would be.
ReplaceFileResult ReplaceFile(const std::string& path, const std::function<bool(aFile* file)>& write);

#endif
