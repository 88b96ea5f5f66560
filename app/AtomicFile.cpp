#include "AtomicFile.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// The mode a freshly created file gets under the usual umask 022.
constexpr mode_t FILE_MODE = 0644;

// The directory part of path with its trailing separator, empty for a bare name.
std::string _directory_prefix(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool _write_all(int fd, const unsigned char* bytes, size_t length) {
    while (length > 0) {
        ssize_t written = write(fd, bytes, length);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        bytes += written;
        length -= static_cast<size_t>(written);
    }
    return true;
}

// Makes the rename itself survive a crash; the file is already in place, so a failure changes nothing.
void _sync_directory(const std::string& prefix) {
    int fd = open(prefix.empty() ? "." : prefix.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0)
        return;
    fsync(fd);
    close(fd);
}

} // namespace

aErr WriteFileAtomically(const std::string& path, const void* data, size_t length) {
    std::string prefix = _directory_prefix(path);
    std::string tmpl = prefix + "." + path.substr(prefix.size()) + ".XXXXXX";
    std::vector<char> temporary(tmpl.begin(), tmpl.end());
    temporary.push_back('\0');
    int fd = mkstemp(temporary.data());
    if (fd < 0)
        return aErrNotFound;

    aErr result = aErrNone;
    if (!_write_all(fd, static_cast<const unsigned char*>(data), length))
        result = aErrWrite;
    else if (fchmod(fd, FILE_MODE) != 0 || fsync(fd) != 0)
        result = aErrIO;
    if (close(fd) != 0 && result == aErrNone)
        result = aErrIO;
    if (result == aErrNone && rename(temporary.data(), path.c_str()) != 0)
        result = aErrIO;
    if (result != aErrNone)
        unlink(temporary.data());
    else
        _sync_directory(prefix);
    return result;
}
