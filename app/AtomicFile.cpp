#include "AtomicFile.h"

#include "FileReplace.h"

aErr WriteFileAtomically(const std::string& path, const void* data, size_t length) {
    bool written = false;
    ReplaceFileResult result = ReplaceFile(path, [&](aFile* file) {
        size_t count = 0;
        written = aFile_Write(file, data, length, &count) == aErrNone && count == length;
        return written;
    });
    if (!result.opened)
        return aErrNotFound;
    if (result.error != 0)
        return written ? aErrIO : aErrWrite;
    return aErrNone;
}
