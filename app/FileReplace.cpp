#include "FileReplace.h"

#include <cerrno>
#include <cstdio>
#include <unistd.h>

namespace {

int _error_or_io() {
    return errno != 0 ? errno : EIO;
}

} // namespace

ReplaceFileResult ReplaceFile(const std::string& path, const std::function<bool(aFile* file)>& write) {
    if (access(path.c_str(), F_OK) == 0 && access(path.c_str(), W_OK) != 0)
        return {false, _error_or_io()};

    // Hidden, so that one left behind by a crash is never taken for a stored file.
    const size_t nameStart = path.find_last_of('/') + 1;
    const std::string temporary =
        path.substr(0, nameStart) + "." + path.substr(nameStart) + ".tmp" + std::to_string(getpid());
    errno = 0;
    aFile* file = aFile_Open(temporary.c_str(), aFileOpenWrite);
    if (file == nullptr)
        return {false, _error_or_io()};

    // Unbuffered, so a full disk shows in the write that hit it rather than at close.
    errno = 0;
    int error = 0;
    if (aFile_SetUnbuffered(file) != aErrNone || !write(file) || fsync(fileno(file->stream)) != 0)
        error = _error_or_io();
    errno = 0;
    if (aFile_Close(&file) != aErrNone && error == 0)
        error = _error_or_io();
    if (error == 0 && rename(temporary.c_str(), path.c_str()) != 0)
        error = _error_or_io();
    if (error != 0)
        aFile_Delete(temporary.c_str());
    return {true, error};
}
