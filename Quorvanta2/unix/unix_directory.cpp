#include "aDirectory.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// Room for the path of one entry while listing or deleting a tree.
constexpr size_t ENTRY_PATH_SIZE = 2048;

// Pieces aDirectory_BuildPath joins at most.
constexpr int BUILD_PATH_PIECES = 10;

constexpr char SEPARATOR = aDIR_PATH_SEP[0];

bool isDotEntry(const char* name) {
    return strcmp(name, ".") == 0 || strcmp(name, "..") == 0;
}

// Creates the directory unless it is one already; false on a failure other than an existing entry.
bool makeDirectory(const std::string& path, uint16_t mode) {
    return aDirectory_Exists(path.c_str()) || mkdir(path.c_str(), mode) == 0 || errno == EEXIST;
}

bool overlaps(const char* buffer, size_t size, const char* piece) {
    return piece >= buffer && piece < buffer + size;
}

// Copies text into buffer, cut to fit and terminated.
void copyTruncated(char* buffer, size_t size, const char* text) {
    snprintf(buffer, size, "%s", text);
}

aErr buildPath(char* buffer, size_t size, const char* first, va_list pieces) {
    if (!buffer || size == 0)
        return aErrParam;
    buffer[0] = '\0';
    if (!first || overlaps(buffer, size, first))
        return aErrParam;
    std::vector<const char*> further;
    for (const char* piece = va_arg(pieces, const char*); piece; piece = va_arg(pieces, const char*)) {
        if (overlaps(buffer, size, piece) || further.size() == BUILD_PATH_PIECES - 1)
            return aErrParam;
        further.push_back(piece);
    }
    size_t length = strlen(first);
    if (length >= size - 1)
        return aErrOverrun;
    memcpy(buffer, first, length + 1);
    for (const char* piece : further) {
        size_t room = size - length - 1;
        if (room > 1 && (length == 0 || buffer[length - 1] != SEPARATOR) && piece[0] != SEPARATOR) {
            buffer[length++] = SEPARATOR;
            buffer[length] = '\0';
            room--;
        }
        const size_t pieceLength = strlen(piece);
        if (pieceLength >= room)
            return aErrOverrun;
        memcpy(buffer + length, piece, pieceLength + 1);
        length += pieceLength;
    }
    return aErrNone;
}

// Calls visit(name, path, status) for each entry of the directory, in the system's order, until it
// returns false. Entries whose path does not fit or that cannot be queried are skipped.
template <typename Visit>
aErr forEachEntry(const char* path, int (*query)(const char*, struct stat*), Visit visit) {
    DIR* directory = opendir(path);
    if (!directory)
        return aErrNotFound;
    char entryPath[ENTRY_PATH_SIZE];
    for (const dirent* entry = readdir(directory); entry; entry = readdir(directory)) {
        struct stat status;
        if (aDirectory_JoinPath(entryPath, sizeof(entryPath), path, entry->d_name) != aErrNone ||
            query(entryPath, &status) != 0)
            continue;
        if (!visit(entry->d_name, entryPath, status))
            break;
    }
    closedir(directory);
    return aErrNone;
}

} // namespace

bool aDirectory_Exists(const char* path) {
    struct stat status;
    return path && stat(path, &status) == 0 && S_ISDIR(status.st_mode);
}

aErr aDirectory_Ensure(const char* path, uint16_t mode) {
    if (!path || !*path)
        return aErrParam;
    if (aDirectory_Exists(path))
        return aErrNone;
    // Each parent in turn, from the top; an empty component (a leading or doubled separator) is skipped.
    const std::string full(path);
    for (size_t at = full.find(SEPARATOR, 1); at != std::string::npos; at = full.find(SEPARATOR, at + 1)) {
        if (full[at - 1] == SEPARATOR)
            continue;
        if (!makeDirectory(full.substr(0, at), mode))
            break;
    }
    // An ordinary file of that name is a failure, not a directory that exists.
    return makeDirectory(full, mode) && aDirectory_Exists(path) ? aErrNone : aErrPermission;
}

aErr aDirectory_List(const char* path, aDirectoryListProc proc, void* ref) {
    if (!path || !proc)
        return aErrParam;
    return forEachEntry(path, stat, [&](const char*, const char* entryPath, const struct stat& status) {
        const aDirectoryListData data = {entryPath, static_cast<uint32_t>(status.st_size),
                                         S_ISDIR(status.st_mode)};
        return proc(&data, ref);
    });
}

aErr aDirectory_Delete(const char* path) {
    return path && rmdir(path) == 0 ? aErrNone : aErrUnknown;
}

aErr aDirectory_DeleteTree(const char* path) {
    if (!path)
        return aErrParam;
    // lstat: a link to a directory outside the tree is removed, never followed.
    const aErr err =
        forEachEntry(path, lstat, [](const char* name, const char* entryPath, const struct stat& status) {
            if (isDotEntry(name))
                return true;
            if (S_ISDIR(status.st_mode)) {
                aDirectory_DeleteTree(entryPath);
            } else if (unlink(entryPath) != 0) {
                perror("aDirectory_DeleteTree");
                printf("---error unlink-ing file [%s]\n", entryPath);
                return false;
            }
            return true;
        });
    return err == aErrNone ? aDirectory_Delete(path) : err;
}

aErr aDirectory_CWD(char* buffer, size_t size) {
    if (!buffer || size == 0 || !getcwd(buffer, size))
        return aErrParam;
    return aErrNone;
}

aErr aDirectory_ExecutableFilePath(char* buffer, size_t size) {
    if (!buffer || size == 0)
        return aErrParam;
    const ssize_t length = readlink("/proc/self/exe", buffer, size - 1);
    if (length < 0) {
        buffer[0] = '\0';
        return aErrRead;
    }
    buffer[length] = '\0';
    return aErrNone;
}

aErr aDirectory_GetHomeDirectory(char* buffer, size_t size) {
    if (!buffer || size == 0)
        return aErrParam;
    buffer[0] = '\0';
    passwd entry;
    passwd* found = nullptr;
    std::vector<char> strings(16384);
    if (getpwuid_r(getuid(), &entry, strings.data(), strings.size(), &found) == 0 && found && found->pw_dir) {
        copyTruncated(buffer, size, found->pw_dir);
        return aErrNone;
    }
    const char* home = getenv("HOME");
    if (!home)
        return aErrNotFound;
    copyTruncated(buffer, size, home);
    return aErrNone;
}

aErr aDirectory_JoinPath(char* buffer, size_t size, const char* first, const char* second) {
    return aDirectory_BuildPath(buffer, size, first, second, nullptr);
}

aErr aDirectory_BuildPath(char* buffer, size_t size, const char* first, ...) {
    va_list pieces;
    va_start(pieces, first);
    const aErr err = buildPath(buffer, size, first, pieces);
    va_end(pieces);
    return err;
}
