#ifndef QUORVANTA_ALINK_H
#define QUORVANTA_ALINK_H

#include <cstddef>
#include <cstdint>

#include "aError.h"
#include "aPacket.h"
#include "aStream.h"
#include "packetfifo.h"

struct aLinkRecord;

// Link-control addresses: the address probe (answered by the attached device with its own address) and
// the force-route packet (route 1 when a link starts, 0 when it stops).
constexpr uint8_t aLINK_PROBE_ADDRESS = 173;
constexpr uint8_t aLINK_FORCE_ROUTE_ADDRESS = 175;

// Link creation: the id of a started link, or 0 when it could not be made (nothing is left behind). A
// TCP/IP or serial link to a device that already has one is shared: the same id, one more user.
uint32_t aLink_CreateTCPIP(uint32_t address, uint16_t port);
uint32_t aLink_CreateSerial(uint32_t serialNumber, const char* path, uint32_t baudRate);
// A link over the caller's stream, which the link then owns; never shared.
uint32_t aLink_Create(aStream* stream);

// Drops one user; the last one tears the link down. Clears the caller's id.
aErr aLink_Destroy(uint32_t* linkId);

// The link's state (aLinkState); 5 for an unknown id.
int32_t aLink_GetStatus(uint32_t linkId);

// Queues a copy of the packet for sending; the caller keeps its packet.
aErr aLink_PutPacket(uint32_t linkId, const aPacket* packet);

// Received packets, oldest first; returned packets are the caller's to destroy.
aPacket* aLink_GetPacket(uint32_t linkId);
aPacket* aLink_AwaitPacket(uint32_t linkId, uint32_t timeoutMs);
aPacket* aLink_GetFirst(uint32_t linkId, aPacketFilter filter, void* context);
// Waits only while the link is running and synchronised; otherwise none at once.
aPacket* aLink_AwaitFirst(uint32_t linkId, aPacketFilter filter, void* context, uint32_t timeoutMs);
size_t aLink_DrainPackets(uint32_t linkId, aPacketFilter filter, void* context);

// A filter the reader offers every received packet first; true consumes it. None removes it.
aErr aLink_InstallUserPacketFilter(uint32_t linkId, aPacketFilter filter, void* context);

// Pooled links send what is queued in batches of up to 4096 bytes per stream write.
aErr aLink_EnablePooledPackets(uint32_t linkId, bool pooled);

// Replaces the link's stream, FIFOs and settings, keeping its id and users.
aErr aLink_Reset(uint32_t linkId);

// Brings the link back in step with the device by address probes.
aErr aLink_Sync(uint32_t linkId);

aErr aLink_ForceRoute(uint32_t linkId, uint8_t route);

// (Re)initialises a stopped link over the stream (or none); the id, or 0 for an unknown or running link.
uint32_t aLink_Init(uint32_t linkId, aStream* stream);
aErr aLink_Start(uint32_t linkId);
aErr aLink_Stop(aLinkRecord* link);

// The attached device's module address, and a device's model number; both take the first packet that
// arrives, so they are meant for a fresh link.
aErr _aLink_GetModuleAddress(uint32_t linkId, uint8_t* address);
aErr _aLink_GetModel(uint32_t linkId, uint8_t module, uint8_t* model);

#endif
