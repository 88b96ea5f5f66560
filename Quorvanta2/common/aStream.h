#ifndef QUORVANTA_ASTREAM_H
#define QUORVANTA_ASTREAM_H

#include <chrono>
#include <cstddef>
#include <cstdint>

#include "aError.h"

// Transport procedures; each gets the stream's transport record as its last argument.
typedef aErr (*aStreamGetProc)(uint8_t* byte, void* ref);
typedef aErr (*aStreamPutProc)(const uint8_t* byte, void* ref);
typedef aErr (*aStreamWriteProc)(const uint8_t* data, size_t length, void* ref);
typedef aErr (*aStreamDeleteProc)(void* ref);
// Waits up to timeoutMs for the transport to have something for its get procedure: aErrNone when a get
// is worth trying (a byte, or a failure it will report), aErrNotReady when the time ran out.
typedef aErr (*aStreamAwaitProc)(uint32_t timeoutMs, void* ref);

constexpr uint16_t aSTREAMCHECK = 0x4321;
constexpr size_t aSTREAMBUFCHUNK = 512;

struct aStream {
    aStreamGetProc getProc;
    aStreamPutProc putProc;
    aStreamWriteProc writeProc;
    aStreamDeleteProc deleteProc;
    void* ref;
    uint8_t* pushBack;
    size_t pushBackCount;
    size_t pushBackCapacity;
    size_t pushBackRead;
    size_t pushBackWrite;
    uint16_t check;
    aStreamAwaitProc awaitProc;
};

bool aVALIDSTREAM(const aStream* stream);

// A new stream over the transport record, which the stream then owns; none when memory runs out.
aStream* aStream_Create(aStreamGetProc get, aStreamPutProc put, aStreamWriteProc write, aStreamDeleteProc del,
                        void* ref);

// Gives the stream a way to wait for input (see aStream_AwaitReadable); transports over a descriptor set it.
aErr aStream_SetAwaitProc(aStream* stream, aStreamAwaitProc await);

// Waits up to timeoutMs until a read is worth trying: at once when bytes are pushed back, through the
// transport's wait procedure when it has one, else after a short pause. aErrNotReady when nothing came.
aErr aStream_AwaitReadable(aStream* stream, uint32_t timeoutMs);

// For wait procedures whose transport keeps looking ready with nothing to read (a peer that has gone):
// sleeps out what is left of timeoutMs since start, so the caller does not spin, and gives aErrNotReady.
aErr aStream_AwaitOutTheRest(std::chrono::steady_clock::time_point start, uint32_t timeoutMs);

// Reads exactly size bytes, or on aErrNotReady nothing at all (the bytes obtained stay for the next read).
// On aErrEOF the bytes obtained before the end are copied.
aErr aStream_Read(aStream* stream, uint8_t* destination, size_t size);

aErr aStream_Write(aStream* stream, const uint8_t* data, size_t length);

// Reads one record ended by the terminator bytes, which are not stored; a full buffer also ends it.
aErr aStream_ReadRecord(aStream* stream, uint8_t* buffer, size_t* length, size_t size,
                        const uint8_t* terminator, size_t terminatorLength);
aErr aStream_WriteRecord(aStream* stream, const uint8_t* data, size_t length, const uint8_t* terminator,
                         size_t terminatorLength);

aErr aStream_ReadCString(aStream* stream, char* buffer, size_t size);
aErr aStream_WriteCString(aStream* stream, const char* text);
aErr aStream_ReadCStringRecord(aStream* stream, char* buffer, size_t size, const char* terminator);
aErr aStream_WriteCStringRecord(aStream* stream, const char* text, const char* terminator);

// Copies bytes from source to destination until the source runs dry; the end of file counts as success.
aErr aStream_Flush(aStream* source, aStream* destination);

aErr aStream_Destroy(aStream** stream);

// Pushes one byte back; it is read before anything the transport delivers.
aErr aStreamBufferChar(aStream* stream, uint8_t byte);

#endif
