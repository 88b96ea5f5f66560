#ifndef QUORVANTA_APACKET_H
#define QUORVANTA_APACKET_H

#include "aError.h"

#include <cstdint>

#define aPACKET_DATA_MAX 28
#define aPACKET_CHECK 0xBEEF

// One device packet. On the wire it is exactly address, length, then length data bytes.
typedef struct aPacket {
    uint16_t check;    // aPACKET_CHECK while the packet is alive
    uint8_t fillCount; // wire bytes accounted for; length + 2 for a finished packet
    uint8_t address;   // device address, even and non-zero
    uint8_t length;    // data bytes in use, 0 to aPACKET_DATA_MAX
    uint8_t data[aPACKET_DATA_MAX];
} aPacket;

// True when the packet is present and carries its check word.
inline bool aVALIDPACKET(const aPacket* packet) {
    return packet && packet->check == aPACKET_CHECK;
}

// An empty packet, or null when memory runs out.
aPacket* aPacket_Create();

// A finished packet holding a copy of length data bytes; null without data, above aPACKET_DATA_MAX
// bytes or out of memory. The address is taken as given.
aPacket* aPacket_CreateWithData(uint8_t address, uint8_t length, const uint8_t* data);

// A finished copy of the packet's address, length and data; null for an invalid packet.
aPacket* aPacket_Copy(const aPacket* packet);

// Data byte 0 (the command).
aErr aPacket_GetCmd(const aPacket* packet, uint8_t* command);

// Data byte 1 without its flag bits (the option code).
aErr aPacket_GetOption(const aPacket* packet, uint8_t* option);

// Data byte 2 without its flag bits (the entity index).
aErr aPacket_GetIndex(const aPacket* packet, uint8_t* index);

// Clears the packet so that a new byte-by-byte build can start.
aErr aPacket_Reset(aPacket* packet);

// Adds the next wire byte (address, length, then data) of a packet read from a stream. After an
// error the caller resets the packet before feeding it again.
aErr aPacket_AddByte(aPacket* packet, uint8_t byte);

// True when the packet is valid and all length + 2 wire bytes have been added.
bool aPacket_IsComplete(const aPacket* packet);

// Frees the packet and clears the caller's variable.
aErr aPacket_Destroy(aPacket** packet);

#endif
