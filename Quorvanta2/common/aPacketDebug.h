#ifndef QUORVANTA_APACKETDEBUG_H
#define QUORVANTA_APACKETDEBUG_H

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "aError.h"
#include "aPacket.h"

struct aLinkRecord;

// Record types of the packet log.
enum : uint8_t {
    aPACKETLOG_SENT = 1,
    aPACKETLOG_RECEIVED = 2,
    aPACKETLOG_TEXT = 3,
};

// Ring size a link's log gets when none was set, and the largest size that may be set.
constexpr uint32_t aPACKETLOG_DEFAULT_SIZE = 65536;
constexpr int32_t aPACKETLOG_MAX_SIZE = 0x4000000;

// A bounded ring of records (type, length, bytes); the oldest records give way to new ones.
struct aPacketLog {
    std::atomic<uint8_t> enabled;
    uint8_t* buffer;
    uint32_t size;
    uint32_t read;
    uint32_t write;
};

// An empty, disabled ring of size bytes; none when memory runs out.
aPacketLog* aPacketLog_Create(uint32_t size);

// Adds a record, dropping the oldest ones to make room; aErrOverrun when it could never fit.
aErr aPacketLog_Put(aPacketLog* log, uint8_t type, size_t length, const uint8_t* bytes);

// Takes the oldest record: *length holds the buffer's capacity on entry and the record's length on return.
// aErrNotFound when empty; aErrOverrun when the buffer is too small (the record stays).
aErr aPacketLog_Get(aPacketLog* log, uint8_t* type, size_t* length, uint8_t* buffer);

aErr aPacketLog_Destroy(aPacketLog** log);

// The link's log ring, made on the first enable; the link's threads record the packets they handle while
// it is enabled.
aErr aLink_PacketDebug_SetLogSize(uint32_t linkId, int32_t size);
aErr aLink_PacketDebug_Enable(uint32_t linkId);
aErr aLink_PacketDebug_Disable(uint32_t linkId);
aErr aLink_PacketDebug_Read(uint32_t linkId, uint8_t* type, size_t* length, uint8_t* buffer);
aErr aLink_PacketDebug_Write(uint32_t linkId, uint8_t type, size_t length, const uint8_t* bytes);

// Used by the link engine: records one packet's wire bytes while the link's log is enabled, and releases
// the log and its lock when the link is torn down or initialised again.
void aPacketDebug_LogPacket(aLinkRecord* link, uint8_t type, const aPacket* packet);
void aPacketDebug_Release(aLinkRecord* link);

#endif
