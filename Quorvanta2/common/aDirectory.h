#ifndef QUORVANTA_ADIRECTORY_H
#define QUORVANTA_ADIRECTORY_H

#include "aError.h"

#include <cstddef>
#include <cstdint>

#define aDIR_PATH_SEP "/"

// One entry of a directory listing, valid only during the callback.
typedef struct aDirectoryListData {
    const char* path; // listed directory, separator, entry name
    uint32_t size;    // low 32 bits of the entry's size in bytes
    bool isDirectory;
} aDirectoryListData;

// Called for each entry; returning false ends the listing.
typedef bool (*aDirectoryListProc)(const aDirectoryListData* entry, void* ref);

// True when path names an existing directory.
bool aDirectory_Exists(const char* path);

// Creates the directory and every missing parent with the given permission mode.
aErr aDirectory_Ensure(const char* path, uint16_t mode);

// Calls proc for every entry, "." and ".." included, in the system's order.
aErr aDirectory_List(const char* path, aDirectoryListProc proc, void* ref);

// Removes an empty directory.
aErr aDirectory_Delete(const char* path);

// Removes a directory with everything in it.
aErr aDirectory_DeleteTree(const char* path);

// Current working directory.
aErr aDirectory_CWD(char* buffer, size_t size);

// Path of the running executable, truncated to fit.
aErr aDirectory_ExecutableFilePath(char* buffer, size_t size);

// The user's home directory from the password database, else from HOME, truncated to fit; aErrNotFound
// with an empty buffer when neither is known.
aErr aDirectory_GetHomeDirectory(char* buffer, size_t size);

// aDirectory_BuildPath with two pieces.
aErr aDirectory_JoinPath(char* buffer, size_t size, const char* first, const char* second);

// Joins up to 10 pieces, ended by a null, with single separators between them.
aErr aDirectory_BuildPath(char* buffer, size_t size, const char* first, ...) __attribute__((sentinel));

#endif
