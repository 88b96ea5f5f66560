#include "aStreamfile.h"

#include "aFile.h"

namespace {

aErr _fileGet(uint8_t* byte, void* ref) {
    if (ref == nullptr)
        return aErrIO;
    return aFile_Read(static_cast<aFile*>(ref), byte, 1, nullptr);
}

aErr _fileWrite(const uint8_t* data, size_t length, void* ref) {
    if (ref == nullptr)
        return aErrIO;
    return aFile_Write(static_cast<aFile*>(ref), data, length, nullptr);
}

aErr _filePut(const uint8_t* byte, void* ref) {
    return _fileWrite(byte, 1, ref);
}

aErr _fileDelete(void* ref) {
    if (ref == nullptr)
        return aErrIO;
    auto* file = static_cast<aFile*>(ref);
    return aFile_Close(&file);
}

aErr _createFileStream(const char* path, aFileOpenMode mode, aStream** stream) {
    if (stream == nullptr)
        return aErrResource;
    *stream = nullptr;
    if (path == nullptr)
        return aErrResource;
    aFile* file = aFile_Open(path, mode);
    if (file == nullptr)
        return aErrResource;
    *stream = mode == aFileOpenRead ? aStream_Create(_fileGet, nullptr, nullptr, _fileDelete, file)
                                    : aStream_Create(nullptr, _filePut, _fileWrite, _fileDelete, file);
    if (*stream == nullptr) {
        aFile_Close(&file);
        return aErrResource;
    }
    return aErrNone;
}

} // namespace

aErr aStream_CreateFileInput(const char* path, aStream** stream) {
    return _createFileStream(path, aFileOpenRead, stream);
}

aErr aStream_CreateFileOutput(const char* path, aStream** stream) {
    return _createFileStream(path, aFileOpenWrite, stream);
}
