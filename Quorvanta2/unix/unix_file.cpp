#include "aFile.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char* const OPEN_MODES[] = {"rb", "wb", "ab+"};

bool validFile(const aFile* file) {
    return file && file->check == aFILE_CHECK;
}

bool canRead(const aFile* file) {
    return file->mode == aFileOpenRead || file->mode == aFileOpenAppend;
}

bool canWrite(const aFile* file) {
    return file->mode == aFileOpenWrite || file->mode == aFileOpenAppend;
}

aErr checkPath(const char* path) {
    if (!path || !*path)
        return aErrParam;
    if (strlen(path) > aFILE_PATH_MAX)
        return aErrFileNameLength;
    return aErrNone;
}

aErr systemError(int error) {
    switch (error) {
    case ENOENT:
        return aErrNotFound;
    case EACCES:
    case EPERM:
        return aErrPermission;
    case EBUSY:
        return aErrBusy;
    default:
        return aErrIO;
    }
}

aErr currentPosition(aFile* file, size_t* position) {
    const off_t at = ftello(file->stream);
    if (at < 0)
        return aErrIO;
    *position = static_cast<size_t>(at);
    return aErrNone;
}

// True when the stream has nothing more to read.
bool atEnd(FILE* stream) {
    const int next = getc(stream);
    if (next == EOF)
        return true;
    ungetc(next, stream);
    return false;
}

} // namespace

bool aFile_Exists(const char* path) {
    struct stat status;
    return checkPath(path) == aErrNone && stat(path, &status) == 0 && !S_ISDIR(status.st_mode);
}

aFile* aFile_Open(const char* path, aFileOpenMode mode) {
    if (checkPath(path) != aErrNone || mode >= aFileOpenInvalid)
        return nullptr;
    FILE* stream = fopen(path, OPEN_MODES[mode]);
    if (!stream)
        return nullptr;
    aFile* file = new (std::nothrow) aFile{stream, mode, aFILE_CHECK};
    if (!file) {
        fclose(stream);
        return nullptr;
    }
    if (mode == aFileOpenAppend)
        fseeko(stream, 0, SEEK_END);
    return file;
}

aErr aFile_Close(aFile** file) {
    if (!file)
        return aErrParam;
    aFile* closing = *file;
    *file = nullptr;
    if (!validFile(closing))
        return aErrParam;
    // A failed close can mean buffered data never reached the file.
    const bool closed = fclose(closing->stream) == 0;
    closing->check = 0;
    delete closing;
    return closed ? aErrNone : aErrIO;
}

aErr aFile_Read(aFile* file, void* buffer, size_t length, size_t* read) {
    if (!validFile(file))
        return aErrParam;
    if (!canRead(file))
        return aErrMode;
    if (!buffer)
        return aErrParam;
    const size_t count = length ? fread(buffer, 1, length, file->stream) : 0;
    if (read)
        *read = count;
    if (count == 0 && length > 0)
        return ferror(file->stream) ? aErrIO : aErrEOF;
    return aErrNone;
}

aErr aFile_Write(aFile* file, const void* data, size_t length, size_t* written) {
    if (!validFile(file))
        return aErrParam;
    if (!canWrite(file))
        return aErrMode;
    if (!data)
        return aErrParam;
    const size_t count = length ? fwrite(data, 1, length, file->stream) : 0;
    if (written)
        *written = count;
    return count == 0 && length > 0 ? aErrIO : aErrNone;
}

aErr aFile_Seek(aFile* file, int64_t offset, aFileSeekOrigin origin) {
    if (!validFile(file))
        return aErrParam;
    size_t position = 0;
    size_t size = 0;
    if (currentPosition(file, &position) != aErrNone || aFile_GetSize(file, &size) != aErrNone)
        return aErrIO;
    int64_t base = 0;
    if (origin == aFileFromCurrent)
        base = static_cast<int64_t>(position);
    else if (origin == aFileFromEnd)
        base = static_cast<int64_t>(size);
    // Seeking never goes before the start nor extends the file; written so that nothing overflows.
    if (offset < -base || offset > static_cast<int64_t>(size) - base)
        return aErrRange;
    if (fseeko(file->stream, static_cast<off_t>(base + offset), SEEK_SET) != 0)
        return aErrIO;
    return currentPosition(file, &position);
}

aErr aFile_GetSize(aFile* file, size_t* size) {
    if (!validFile(file))
        return aErrParam;
    if (!size)
        return aErrParam;
    *size = 0;
    const off_t position = ftello(file->stream);
    if (position < 0 || fseeko(file->stream, 0, SEEK_END) != 0)
        return aErrIO;
    const off_t end = ftello(file->stream);
    if (fseeko(file->stream, position, SEEK_SET) != 0 || end < 0)
        return aErrIO;
    *size = static_cast<size_t>(end);
    return aErrNone;
}

aErr aFile_Delete(const char* path) {
    const aErr err = checkPath(path);
    if (err != aErrNone)
        return err;
    if (unlink(path) == 0)
        return aErrNone;
    return systemError(errno);
}

aErr aFile_ReadLine(aFile* file, char* buffer, size_t size, size_t* length) {
    if (!validFile(file) || !buffer || size < 2 || !length)
        return aErrParam;
    *length = 0;
    buffer[0] = '\0';
    if (!canRead(file))
        return aErrMode;
    const int limit = size > INT32_MAX ? INT32_MAX : static_cast<int>(size);
    if (!fgets(buffer, limit, file->stream)) {
        buffer[0] = '\0';
        return ferror(file->stream) ? aErrIO : aErrEOF;
    }
    *length = strlen(buffer);
    // A full buffer without a newline is a cut line unless the file ends right there.
    if (*length == static_cast<size_t>(limit) - 1 && buffer[*length - 1] != '\n' && !atEnd(file->stream))
        return aErrOverrun;
    return aErrNone;
}

aErr aFile_SetUnbuffered(aFile* file) {
    if (!validFile(file))
        return aErrParam;
    if (!canWrite(file) || setvbuf(file->stream, nullptr, _IONBF, 0) != 0)
        return aErrMode;
    return aErrNone;
}

aErr aFile_GetPosition(aFile* file, size_t* position) {
    if (!validFile(file) || !position)
        return aErrParam;
    return currentPosition(file, position);
}

aErr aFile_Printf(aFile* file, const char* format, ...) {
    if (!validFile(file) || !format)
        return aErrParam;
    if (!canWrite(file))
        return aErrMode;
    va_list arguments;
    va_start(arguments, format);
    const int written = vfprintf(file->stream, format, arguments);
    va_end(arguments);
    return written < 0 ? aErrIO : aErrNone;
}
