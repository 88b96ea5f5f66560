#include "aPacket.h"

#include <cstring>
#include <new>

namespace {

// Wire bytes before the data: address and length.
constexpr uint8_t HEADER_BYTES = 2;

constexpr aPacket TEMPLATE = {aPACKET_CHECK, 0, 0, 0, {}};

aPacket* allocate() {
    aPacket* packet = new (std::nothrow) aPacket;
    if (packet)
        *packet = TEMPLATE;
    return packet;
}

// Data byte at position with mask applied, for packets long enough to hold it.
aErr getDataByte(const aPacket* packet, uint8_t position, uint8_t mask, uint8_t* out) {
    if (!out)
        return aErrParam;
    if (!aVALIDPACKET(packet) || packet->length <= position)
        return aErrPacket;
    *out = packet->data[position] & mask;
    return aErrNone;
}

} // namespace

aPacket* aPacket_Create() {
    return allocate();
}

aPacket* aPacket_CreateWithData(uint8_t address, uint8_t length, const uint8_t* data) {
    if (!data || length > aPACKET_DATA_MAX)
        return nullptr;
    aPacket* packet = allocate();
    if (!packet)
        return nullptr;
    packet->address = address;
    packet->length = length;
    memcpy(packet->data, data, length);
    packet->fillCount = static_cast<uint8_t>(length + HEADER_BYTES);
    return packet;
}

aPacket* aPacket_Copy(const aPacket* packet) {
    if (!aVALIDPACKET(packet))
        return nullptr;
    return aPacket_CreateWithData(packet->address, packet->length, packet->data);
}

aErr aPacket_GetCmd(const aPacket* packet, uint8_t* command) {
    return getDataByte(packet, 0, 0xFF, command);
}

aErr aPacket_GetOption(const aPacket* packet, uint8_t* option) {
    return getDataByte(packet, 1, 0x3F, option);
}

aErr aPacket_GetIndex(const aPacket* packet, uint8_t* index) {
    return getDataByte(packet, 2, 0x1F, index);
}

aErr aPacket_Reset(aPacket* packet) {
    if (!aVALIDPACKET(packet))
        return aErrParam;
    *packet = TEMPLATE;
    return aErrNone;
}

aErr aPacket_AddByte(aPacket* packet, uint8_t byte) {
    if (!aVALIDPACKET(packet))
        return aErrParam;
    // Counted before anything else so that a stream of rejected bytes still ends in an overrun.
    if (packet->fillCount < 0xFF)
        packet->fillCount++;
    if (packet->fillCount > aPACKET_DATA_MAX + HEADER_BYTES)
        return aErrOverrun;
    if (packet->address == 0) {
        if (byte == 0 || (byte & 1))
            return aErrPacket;
        packet->address = byte;
        return aErrNone;
    }
    if (packet->length == 0) {
        packet->length = byte;
        return byte > aPACKET_DATA_MAX ? aErrPacket : aErrNone;
    }
    if (packet->fillCount > packet->length + HEADER_BYTES)
        return aErrPacket;
    packet->data[packet->fillCount - HEADER_BYTES - 1] = byte;
    return aErrNone;
}

bool aPacket_IsComplete(const aPacket* packet) {
    return aVALIDPACKET(packet) && packet->fillCount == packet->length + HEADER_BYTES;
}

aErr aPacket_Destroy(aPacket** packet) {
    if (!packet || !aVALIDPACKET(*packet))
        return aErrParam;
    (*packet)->check = 0;
    delete *packet;
    *packet = nullptr;
    return aErrNone;
}
