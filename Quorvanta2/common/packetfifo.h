#ifndef QUORVANTA_PACKETFIFO_H
#define QUORVANTA_PACKETFIFO_H

#include <cstddef>
#include <cstdint>
#include <memory>

#include "aError.h"
#include "aPacket.h"

// Owns a packet and destroys it with aPacket_Destroy.
struct aPacketDeleter {
    void operator()(aPacket* packet) const { aPacket_Destroy(&packet); }
};
using aPacketPtr = std::unique_ptr<aPacket, aPacketDeleter>;

// Names a packet FIFO; 0 names none.
typedef uint64_t aPacketFifoId;

// Decides whether a packet is wanted. Filters run on the caller's thread while the FIFO's lock is held, so
// they must not call back into the same FIFO.
typedef bool (*aPacketFilter)(const aPacket* packet, void* context);

// Most packets a FIFO holds; one more empties it.
constexpr size_t aPACKETFIFO_MAX_ENTRIES = 1000;

// A new empty FIFO, or 0 when it could not be made.
aPacketFifoId aPacketFifo_Create();

// Removes the FIFO, wakes every waiter on it, and clears the caller's id.
aErr aPacketFifo_Destroy(aPacketFifoId* id);

// Appends a copy of the packet; the caller keeps its packet.
aErr aPacketFifo_Put(aPacketFifoId id, const aPacket* packet);

// The oldest packet, removed, or none; never waits. Returned packets are the caller's to destroy.
aPacket* aPacketFifo_Get(aPacketFifoId id);

// The oldest packet, waiting up to timeoutMs for one to arrive.
aPacket* aPacketFifo_Await(aPacketFifoId id, uint32_t timeoutMs);

// The oldest packet the filter accepts, removed, or none; never waits.
aPacket* aPacketFifo_GetFirst(aPacketFifoId id, aPacketFilter filter, void* context);

// The oldest packet the filter accepts, waiting up to timeoutMs; each packet is offered to the filter at
// most once per call.
aPacket* aPacketFifo_AwaitFirst(aPacketFifoId id, aPacketFilter filter, void* context, uint32_t timeoutMs);

// Removes every packet the filter accepts and returns how many were removed.
size_t aPacketFifo_DrainPackets(aPacketFifoId id, aPacketFilter filter, void* context);

// Number of packets held; 0 for an unknown id.
size_t aPacketFifo_GetLength(aPacketFifoId id);

#endif
