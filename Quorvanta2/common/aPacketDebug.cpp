#include "aPacketDebug.h"

#include <cstdio>
#include <cstdlib>
#include <new>

#include "aLinkManagerInternal.h"

namespace {

uint32_t _used(const aPacketLog* log) {
    return (log->write - log->read + log->size) % log->size;
}

uint8_t _byteAt(const aPacketLog* log, uint32_t offset) {
    return log->buffer[(log->read + offset) % log->size];
}

void _dropOldest(aPacketLog* log) {
    log->read = (log->read + 2 + _byteAt(log, 1)) % log->size;
}

void _store(aPacketLog* log, uint8_t byte) {
    log->buffer[log->write] = byte;
    log->write = (log->write + 1) % log->size;
}

// Holds a link's log lock for one operation on its ring.
template <typename Operation> aErr _withLog(uint32_t linkId, Operation operation) {
    aLinkRecord* link = sGetLink(linkId);
    if (link == nullptr)
        return aErrParam;
    aPacketLog* log = link->packetLog;
    if (log == nullptr)
        return aErrNotReady;
    aMutex_Lock(link->packetLogLock);
    aErr err = operation(log);
    aMutex_Unlock(link->packetLogLock);
    return err;
}

} // namespace

aPacketLog* aPacketLog_Create(uint32_t size) {
    if (size == 0)
        return nullptr;
    auto* log = new (std::nothrow) aPacketLog{};
    if (log == nullptr)
        return nullptr;
    log->buffer = static_cast<uint8_t*>(malloc(size));
    if (log->buffer == nullptr) {
        delete log;
        return nullptr;
    }
    log->size = size;
    return log;
}

aErr aPacketLog_Put(aPacketLog* log, uint8_t type, size_t length, const uint8_t* bytes) {
    if (log == nullptr || (bytes == nullptr && length > 0))
        return aErrParam;
    if (length > UINT8_MAX || length + 2 >= log->size)
        return aErrOverrun;
    while (length + 2 >= log->size - _used(log))
        _dropOldest(log);
    _store(log, type);
    _store(log, static_cast<uint8_t>(length));
    for (size_t i = 0; i < length; i++)
        _store(log, bytes[i]);
    return aErrNone;
}

aErr aPacketLog_Get(aPacketLog* log, uint8_t* type, size_t* length, uint8_t* buffer) {
    if (log == nullptr || type == nullptr || length == nullptr)
        return aErrParam;
    if (log->read == log->write)
        return aErrNotFound;
    const size_t capacity = *length;
    const uint8_t recordLength = _byteAt(log, 1);
    *type = _byteAt(log, 0);
    *length = recordLength;
    if (capacity < recordLength || (buffer == nullptr && recordLength > 0))
        return aErrOverrun;
    for (uint32_t i = 0; i < recordLength; i++)
        buffer[i] = _byteAt(log, 2 + i);
    _dropOldest(log);
    return aErrNone;
}

aErr aPacketLog_Destroy(aPacketLog** log) {
    if (log == nullptr || *log == nullptr)
        return aErrNone;
    (*log)->enabled = 0;
    free((*log)->buffer);
    delete *log;
    *log = nullptr;
    return aErrNone;
}

aErr aLink_PacketDebug_SetLogSize(uint32_t linkId, int32_t size) {
    aLinkRecord* link = sGetLink(linkId);
    if (link == nullptr || size > aPACKETLOG_MAX_SIZE)
        return aErrParam;
    if (link->packetLog != nullptr)
        return aErrBusy;
    link->packetLogSize = size < 0 ? 0 : size;
    return aErrNone;
}

// The lock is made before the ring is published, so a thread that sees the ring also finds its lock.
aErr aLink_PacketDebug_Enable(uint32_t linkId) {
    aLinkRecord* link = sGetLink(linkId);
    if (link == nullptr)
        return aErrParam;
    if (link->packetLogLock == nullptr) {
        char name[64];
        snprintf(name, sizeof(name), "LOG_SEMA_%p", static_cast<void*>(link));
        link->packetLogLock = aMutex_Create(name);
        if (link->packetLogLock == nullptr)
            return aErrResource;
    }
    if (link->packetLog == nullptr) {
        uint32_t size = link->packetLogSize > 0 ? uint32_t(link->packetLogSize) : aPACKETLOG_DEFAULT_SIZE;
        aPacketLog* log = aPacketLog_Create(size);
        if (log == nullptr)
            return aErrResource;
        link->packetLog = log;
    }
    link->packetLog.load()->enabled = 1;
    return aErrNone;
}

aErr aLink_PacketDebug_Disable(uint32_t linkId) {
    return _withLog(linkId, [](aPacketLog* log) {
        log->enabled = 0;
        return aErr{aErrNone};
    });
}

aErr aLink_PacketDebug_Read(uint32_t linkId, uint8_t* type, size_t* length, uint8_t* buffer) {
    return _withLog(linkId, [&](aPacketLog* log) { return aPacketLog_Get(log, type, length, buffer); });
}

aErr aLink_PacketDebug_Write(uint32_t linkId, uint8_t type, size_t length, const uint8_t* bytes) {
    return _withLog(linkId, [&](aPacketLog* log) { return aPacketLog_Put(log, type, length, bytes); });
}

void aPacketDebug_LogPacket(aLinkRecord* link, uint8_t type, const aPacket* packet) {
    aPacketLog* log = link->packetLog;
    if (log == nullptr || !log->enabled)
        return;
    uint8_t wire[aLINK_WIRE_MAX];
    const size_t length = sPacketWireBytes(packet, wire);
    aMutex_Lock(link->packetLogLock);
    aPacketLog_Put(log, type, length, wire);
    aMutex_Unlock(link->packetLogLock);
}

void aPacketDebug_Release(aLinkRecord* link) {
    aPacketLog* log = link->packetLog.exchange(nullptr);
    aPacketLog_Destroy(&log);
    if (link->packetLogLock != nullptr)
        aMutex_Destroy(&link->packetLogLock);
    link->packetLogSize = 0;
}
