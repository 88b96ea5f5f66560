#include "aStream.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "aTime.h"

namespace {

// How long a stream without a wait procedure pauses before its owner polls it again.
constexpr uint32_t kAwaitFallbackPauseMs = 5;

struct FreeDeleter {
    void operator()(uint8_t* bytes) const { free(bytes); }
};
using Scratch = std::unique_ptr<uint8_t, FreeDeleter>;

Scratch _scratch(size_t size) {
    return Scratch(static_cast<uint8_t*>(malloc(size == 0 ? 1 : size)));
}

bool _takePushedBack(aStream* stream, uint8_t* byte) {
    if (stream->pushBackCount == 0)
        return false;
    *byte = stream->pushBack[stream->pushBackRead];
    stream->pushBackRead = (stream->pushBackRead + 1) % stream->pushBackCapacity;
    stream->pushBackCount--;
    return true;
}

aErr _pushBackAll(aStream* stream, const uint8_t* bytes, size_t count) {
    for (size_t i = 0; i < count; i++) {
        aErr err = aStreamBufferChar(stream, bytes[i]);
        if (err != aErrNone)
            return err;
    }
    return aErrNone;
}

// One byte, from the push-back ring first, else from the transport.
aErr _nextByte(aStream* stream, uint8_t* byte) {
    if (_takePushedBack(stream, byte))
        return aErrNone;
    return stream->getProc(byte, stream->ref);
}

aErr _readTextRecord(aStream* stream, char* buffer, size_t size, const uint8_t* terminator,
                     size_t terminatorLength) {
    if (buffer == nullptr || size == 0)
        return aErrParam;
    size_t length = 0;
    aErr err = aStream_ReadRecord(stream, reinterpret_cast<uint8_t*>(buffer), &length, size - 1, terminator,
                                  terminatorLength);
    buffer[err == aErrNone ? length : 0] = '\0';
    return err;
}

} // namespace

bool aVALIDSTREAM(const aStream* stream) {
    return stream != nullptr && stream->check == aSTREAMCHECK;
}

aStream* aStream_Create(aStreamGetProc get, aStreamPutProc put, aStreamWriteProc write, aStreamDeleteProc del,
                        void* ref) {
    auto* stream = static_cast<aStream*>(calloc(1, sizeof(aStream)));
    if (stream == nullptr)
        return nullptr;
    stream->getProc = get;
    stream->putProc = put;
    stream->writeProc = write;
    stream->deleteProc = del;
    stream->ref = ref;
    stream->check = aSTREAMCHECK;
    return stream;
}

aErr aStream_SetAwaitProc(aStream* stream, aStreamAwaitProc await) {
    if (!aVALIDSTREAM(stream))
        return aErrParam;
    stream->awaitProc = await;
    return aErrNone;
}

aErr aStream_AwaitReadable(aStream* stream, uint32_t timeoutMs) {
    if (!aVALIDSTREAM(stream))
        return aErrParam;
    if (stream->pushBackCount > 0)
        return aErrNone;
    if (stream->awaitProc != nullptr)
        return stream->awaitProc(timeoutMs, stream->ref);
    aTime_MSSleep(timeoutMs < kAwaitFallbackPauseMs ? timeoutMs : kAwaitFallbackPauseMs);
    return aErrNotReady;
}

aErr aStream_AwaitOutTheRest(std::chrono::steady_clock::time_point start, uint32_t timeoutMs) {
    auto waited =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    if (waited.count() < timeoutMs)
        aTime_MSSleep(timeoutMs - static_cast<uint64_t>(waited.count()));
    return aErrNotReady;
}

aErr aStream_Read(aStream* stream, uint8_t* destination, size_t size) {
    if (!aVALIDSTREAM(stream) || destination == nullptr)
        return aErrParam;
    if (stream->getProc == nullptr)
        return aErrMode;
    Scratch scratch = _scratch(size);
    if (!scratch)
        return aErrResource;
    size_t obtained = 0;
    aErr err = aErrNone;
    while (obtained < size && (err = _nextByte(stream, scratch.get() + obtained)) == aErrNone)
        obtained++;
    if (obtained < size && err == aErrNotReady) {
        aErr pushed = _pushBackAll(stream, scratch.get(), obtained);
        return pushed == aErrNone ? aErr(aErrNotReady) : pushed;
    }
    if (obtained < size && err != aErrEOF)
        return err;
    memcpy(destination, scratch.get(), obtained);
    return err;
}

aErr aStream_Write(aStream* stream, const uint8_t* data, size_t length) {
    if (!aVALIDSTREAM(stream) || data == nullptr)
        return aErrParam;
    if (stream->writeProc == nullptr && stream->putProc == nullptr)
        return aErrMode;
    if (length == 0)
        return aErrNone;
    if (stream->writeProc != nullptr && (length > 1 || stream->putProc == nullptr))
        return stream->writeProc(data, length, stream->ref);
    for (size_t i = 0; i < length; i++) {
        aErr err = stream->putProc(data + i, stream->ref);
        if (err != aErrNone)
            return err;
    }
    return aErrNone;
}

// A terminator match that breaks off turns its first byte into data and looks at the rest again, so no
// byte is lost and overlapping matches are still found.
aErr aStream_ReadRecord(aStream* stream, uint8_t* buffer, size_t* length, size_t size,
                        const uint8_t* terminator, size_t terminatorLength) {
    if (!aVALIDSTREAM(stream) || buffer == nullptr || terminator == nullptr || terminatorLength == 0)
        return aErrParam;
    Scratch scratch = _scratch(size);
    if (!scratch)
        return aErrResource;
    std::vector<uint8_t> pending;
    size_t stored = 0;
    size_t matched = 0;
    aErr err = aErrNone;
    while (matched < terminatorLength && stored < size) {
        uint8_t byte;
        if (!pending.empty()) {
            byte = pending.front();
            pending.erase(pending.begin());
        } else if ((err = aStream_Read(stream, &byte, 1)) != aErrNone) {
            break;
        }
        if (byte == terminator[matched]) {
            matched++;
        } else if (matched == 0) {
            scratch.get()[stored++] = byte;
        } else {
            scratch.get()[stored++] = terminator[0];
            pending.insert(pending.begin(), byte);
            pending.insert(pending.begin(), terminator + 1, terminator + matched);
            matched = 0;
        }
    }
    if (err == aErrNotReady) {
        aErr pushed = _pushBackAll(stream, scratch.get(), stored);
        if (pushed == aErrNone)
            pushed = _pushBackAll(stream, terminator, matched);
        return pushed == aErrNone ? aErr(aErrNotReady) : pushed;
    }
    if (err == aErrEOF) {
        for (size_t i = 0; i < matched && stored < size; i++)
            scratch.get()[stored++] = terminator[i];
        if (stored == 0)
            return aErrEOF;
    } else if (err != aErrNone) {
        return err;
    }
    if (!pending.empty()) {
        aErr pushed = _pushBackAll(stream, pending.data(), pending.size());
        if (pushed != aErrNone)
            return pushed;
    }
    memcpy(buffer, scratch.get(), stored);
    if (length != nullptr)
        *length = stored;
    return aErrNone;
}

aErr aStream_WriteRecord(aStream* stream, const uint8_t* data, size_t length, const uint8_t* terminator,
                         size_t terminatorLength) {
    if (!aVALIDSTREAM(stream) || data == nullptr || terminator == nullptr || terminatorLength == 0)
        return aErrParam;
    aErr err = aStream_Write(stream, data, length);
    return err == aErrNone ? aStream_Write(stream, terminator, terminatorLength) : err;
}

aErr aStream_ReadCString(aStream* stream, char* buffer, size_t size) {
    static const uint8_t zero = 0;
    return _readTextRecord(stream, buffer, size, &zero, 1);
}

aErr aStream_WriteCString(aStream* stream, const char* text) {
    if (text == nullptr)
        return aErrParam;
    return aStream_Write(stream, reinterpret_cast<const uint8_t*>(text), strlen(text) + 1);
}

aErr aStream_ReadCStringRecord(aStream* stream, char* buffer, size_t size, const char* terminator) {
    if (terminator == nullptr)
        return aErrParam;
    return _readTextRecord(stream, buffer, size, reinterpret_cast<const uint8_t*>(terminator),
                           strlen(terminator));
}

aErr aStream_WriteCStringRecord(aStream* stream, const char* text, const char* terminator) {
    if (text == nullptr || terminator == nullptr)
        return aErrParam;
    return aStream_WriteRecord(stream, reinterpret_cast<const uint8_t*>(text), strlen(text),
                               reinterpret_cast<const uint8_t*>(terminator), strlen(terminator) + 1);
}

aErr aStream_Flush(aStream* source, aStream* destination) {
    if (!aVALIDSTREAM(source) || !aVALIDSTREAM(destination))
        return aErrParam;
    if (source->getProc == nullptr || destination->putProc == nullptr)
        return aErrMode;
    for (;;) {
        uint8_t byte;
        aErr err = source->getProc(&byte, source->ref);
        if (err != aErrNone)
            return err == aErrEOF ? aErr(aErrNone) : err;
        err = destination->putProc(&byte, destination->ref);
        if (err != aErrNone)
            return err;
    }
}

aErr aStream_Destroy(aStream** stream) {
    if (stream == nullptr)
        return aErrParam;
    aStream* doomed = *stream;
    *stream = nullptr;
    if (!aVALIDSTREAM(doomed))
        return aErrParam;
    aErr err = doomed->deleteProc != nullptr ? doomed->deleteProc(doomed->ref) : aErr(aErrNone);
    free(doomed->pushBack);
    doomed->check = 0;
    free(doomed);
    return err;
}

aErr aStreamBufferChar(aStream* stream, uint8_t byte) {
    if (stream == nullptr)
        return aErrParam;
    if (stream->pushBackCount + 1 >= stream->pushBackCapacity) {
        const size_t capacity = stream->pushBackCapacity + aSTREAMBUFCHUNK;
        auto* ring = static_cast<uint8_t*>(malloc(capacity));
        if (ring == nullptr)
            return aErrMemory;
        for (size_t i = 0; i < stream->pushBackCount; i++)
            ring[i] = stream->pushBack[(stream->pushBackRead + i) % stream->pushBackCapacity];
        free(stream->pushBack);
        stream->pushBack = ring;
        stream->pushBackCapacity = capacity;
        stream->pushBackRead = 0;
        stream->pushBackWrite = stream->pushBackCount;
    }
    stream->pushBack[stream->pushBackWrite] = byte;
    stream->pushBackWrite = (stream->pushBackWrite + 1) % stream->pushBackCapacity;
    stream->pushBackCount++;
    return aErrNone;
}
