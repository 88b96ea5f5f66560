#ifndef QUORVANTA_AFILE_H
#define QUORVANTA_AFILE_H

#include "aError.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>

#define aFILE_CHECK 0xFEED

// Longest file path the library accepts.
#define aFILE_PATH_MAX 4096

enum aFileOpenMode : uint32_t {
    aFileOpenRead = 0,   // read only
    aFileOpenWrite = 1,  // write only, created or truncated
    aFileOpenAppend = 2, // reading and appending, positioned at the end
    aFileOpenInvalid = 3,
};

enum aFileSeekOrigin : uint32_t {
    aFileFromStart = 0,
    aFileFromCurrent = 1,
    aFileFromEnd = 2,
};

// An open file; the check word holds aFILE_CHECK from open until close.
typedef struct aFile {
    FILE* stream;
    uint32_t mode;
    uint32_t check;
} aFile;

// True when path exists, is not a directory and is not longer than aFILE_PATH_MAX.
bool aFile_Exists(const char* path);

// A new handle, or null when the file cannot be opened in that mode.
aFile* aFile_Open(const char* path, aFileOpenMode mode);

// Closes the file and clears the caller's variable, also for an invalid handle.
aErr aFile_Close(aFile** file);

// Reads up to length bytes; a short read succeeds, nothing at all is aErrEOF. read may be null.
aErr aFile_Read(aFile* file, void* buffer, size_t length, size_t* read);

// Writes up to length bytes; a short write succeeds, nothing at all is aErrIO. written may be null.
aErr aFile_Write(aFile* file, const void* data, size_t length, size_t* written);

// Moves within the file; a target before the start or past the end is aErrRange and nothing moves.
aErr aFile_Seek(aFile* file, int64_t offset, aFileSeekOrigin origin);

// File length in bytes; the position is kept.
aErr aFile_GetSize(aFile* file, size_t* size);

aErr aFile_Delete(const char* path);

// Reads one line with its newline into buffer (terminated, size at least 2) and stores its length. A
// line that does not fit is aErrOverrun with the part read left in the buffer.
aErr aFile_ReadLine(aFile* file, char* buffer, size_t size, size_t* length);

// Makes every write reach the system at once.
aErr aFile_SetUnbuffered(aFile* file);

// Current position in bytes from the start.
aErr aFile_GetPosition(aFile* file, size_t* position);

aErr aFile_Printf(aFile* file, const char* format, ...) __attribute__((format(printf, 2, 3)));

#endif
