#ifndef QUORVANTA_ALINKMANAGERINTERNAL_H
#define QUORVANTA_ALINKMANAGERINTERNAL_H

#include <atomic>
#include <cstdint>

#include "aError.h"
#include "discover.h"
#include "aMutex.h"
#include "aPacket.h"
#include "aStream.h"
#include "aThread.h"
#include "packetfifo.h"

struct aPacketLog;

constexpr uint16_t aLINK_CHECK = 0xCEED;
// Identifier of links made over a caller's stream; they are never shared.
constexpr uint32_t aLINK_UNSHARED_IDENTIFIER = 0xFFFFFFFF;

// Most wire bytes one packet takes: address, length and the data.
constexpr size_t aLINK_WIRE_MAX = aPACKET_DATA_MAX + 2;

// Link states, as aLink_GetStatus reports them.
enum aLinkState : int32_t {
    aLINK_STOPPED = 0,
    aLINK_STARTING = 1,
    aLINK_RUNNING = 2,
    aLINK_STOPPING = 3,
    aLINK_SYNCHRONISING = 4,
    aLINK_NO_STREAM = 5,
    aLINK_READ_ERROR = 6,
    aLINK_HANDLING_ERROR = 8,
};

// Where the reader is in matching the device's answers to address probes: A, 0, A, 0.
enum aLinkSyncState : uint8_t {
    kSyncStateDone = 0,
    kSyncStateStart = 1,
    kSyncStateByte1 = 2,
    kSyncStateByte2 = 3,
    kSyncStateByte3 = 4,
    kSyncStateByte4 = 5,
};

// The state of one link. Flags and states are written by their owners (reader, writer, start, stop,
// sync) and read by everyone else, so they are atomics rather than locked.
struct aLinkRecord {
    uint16_t check;
    uint32_t id;
    std::atomic<uint8_t> running;
    std::atomic<int32_t> state;
    aPacketFifoId inFifo;
    aPacket* assembly;
    aPacketFifoId outFifo;
    aThread* reader;
    aThread* writer;
    aThreadProc readerProc;
    aThreadProc writerProc;
    std::atomic<uint8_t> readerStarted;
    std::atomic<uint8_t> writerStarted;
    aStream* stream;
    std::atomic<uint8_t> heartbeatState;
    uint8_t syncState;
    uint8_t syncAddress;
    std::atomic<aPacketLog*> packetLog;
    int32_t packetLogSize;
    aMutex* packetLogLock;
    aPacketFilter userFilter;
    void* userFilterContext;
    aMutex* userFilterLock;
    std::atomic<uint8_t> pooled;
    // Steady-clock milliseconds of the last round of address probes; rounds are spaced out so that a
    // peer that keeps sending garbage (or echoes the probes) cannot drive an endless probe storm.
    int64_t lastSyncRoundMs;
};

// Makes a new stream to the entry's device, so that a reset can replace a broken one.
typedef aErr (*aLinkStreamMaker)(uint32_t identifier, uint32_t port, aStream** stream);
// Releases a sharing server attached to a link.
typedef aErr (*aLinkServerDestroyProc)(void** server);

// One link of the process-wide table.
struct aLinkEntry {
    uint32_t id;
    uint32_t wrappedId;
    void* server;
    uint32_t identifier;
    uint32_t port;
    uint32_t instance;
    int32_t type;
    int16_t useCount;
    aLinkRecord* link;
    aLinkEntry* next;
    aLinkStreamMaker streamMaker;
    aLinkServerDestroyProc serverDestroy;
};

// Table operations; each holds the table mutex ("aLink_Managed") for its own duration only.
aLinkEntry* sCreate(uint32_t identifier, uint32_t port, uint32_t instance, linkType type);
aLinkEntry* sLookupEntryByID(uint32_t id);
// The newest entry of that transport, identifier and port: the link a new user of that device shares.
aLinkEntry* sLookupEntryForSharing(linkType type, uint32_t identifier, uint32_t port);
aLinkEntry* sExtractEntry(uint32_t id);
// Adds delta to the entry's use count and returns the new count; 0 for an unknown id.
int16_t sChangeUseCount(uint32_t id, int16_t delta);
aLinkRecord* sGetLink(uint32_t id);
// Frees an entry taken out of the table (its record is freed by the caller).
void sFreeEntry(aLinkEntry** entry);

// Writes the packet's wire bytes (address, length, data) and returns their count.
size_t sPacketWireBytes(const aPacket* packet, uint8_t* wire);

#endif
