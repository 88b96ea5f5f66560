#include "aUEI.h"

#include <algorithm>
#include <iterator>

namespace {

// Commands handled by the link itself rather than by an entity (0 is the heartbeat).
constexpr uint8_t NON_UEI_COMMANDS[] = {0, 1, 2, 4, 8, 9, 23, 24, 73, 94, 95, 173, 175};

// A bytes-form packet carries the header bytes and the trailer around its piece.
constexpr uint8_t BYTES_OVERHEAD = aUEI_HEADER_LENGTH + 1;

uint8_t trailer(const aPacket* packet) {
    if (!aVALIDPACKET(packet) || packet->length == 0 || packet->length > aPACKET_DATA_MAX)
        return 0;
    return packet->data[packet->length - 1];
}

} // namespace

uint16_t aUEI_RetrieveShort(const uint8_t* bytes) {
    return static_cast<uint16_t>(bytes[0] << 8 | bytes[1]);
}

void aUEI_StoreShort(uint8_t* bytes, uint16_t value) {
    bytes[0] = static_cast<uint8_t>(value >> 8);
    bytes[1] = static_cast<uint8_t>(value);
}

uint32_t aUEI_RetrieveInt(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) << 24 | static_cast<uint32_t>(bytes[1]) << 16 |
           static_cast<uint32_t>(bytes[2]) << 8 | bytes[3];
}

void aUEI_StoreInt(uint8_t* bytes, uint32_t value) {
    aUEI_StoreShort(bytes, static_cast<uint16_t>(value >> 16));
    aUEI_StoreShort(bytes + 2, static_cast<uint16_t>(value));
}

void aUEI_ModifyIntBuffer(uint32_t* words, size_t count) {
    if (!words)
        return;
    for (size_t i = 0; i < count; i++)
        words[i] = aUEI_RetrieveInt(reinterpret_cast<const uint8_t*>(&words[i]));
}

uint8_t aUEI_getBytesSequence(const aPacket* packet) {
    return trailer(packet) & aUEI_BYTES_SEQUENCE_MASK;
}

uint8_t aUEI_getBytesContinue(const aPacket* packet) {
    return trailer(packet) >> 7;
}

bool aUEI_getBytesFullPacket(const aPacket* packet) {
    return aVALIDPACKET(packet) && packet->length >= aPACKET_DATA_MAX - 1 &&
           packet->length <= aPACKET_DATA_MAX;
}

bool aUEI_isNotUEIPayload(const aPacket* packet) {
    uint8_t command;
    if (aPacket_GetCmd(packet, &command) != aErrNone)
        return false;
    return std::ranges::find(NON_UEI_COMMANDS, command) != std::end(NON_UEI_COMMANDS);
}

bool aUEI_isUEIPayload(const aPacket* packet) {
    return !aUEI_isNotUEIPayload(packet);
}

bool aUEI_isStreamPacket(const aPacket* packet) {
    return aVALIDPACKET(packet) && packet->length > 4 && aUEI_isUEIPayload(packet) &&
           packet->data[1] < aUEI_OPTION_GET && (packet->data[2] & aUEI_INDEX_STREAM);
}

aErr aUEI_SendBytes(uint8_t address, uint8_t command, uint8_t option, uint8_t index, const uint8_t* bytes,
                    uint64_t length, aUEI_PacketSink sink, void* ref) {
    if (!sink || (!bytes && length > 0))
        return aErrParam;
    uint8_t data[aPACKET_DATA_MAX] = {command, option, index};
    uint64_t sent = 0;
    aErr result = aErrNone;
    for (uint8_t sequence = 0; result == aErrNone; sequence = (sequence + 1) & aUEI_BYTES_SEQUENCE_MASK) {
        const uint8_t piece = static_cast<uint8_t>(std::min<uint64_t>(length - sent, aUEI_BYTES_PAYLOAD_MAX));
        std::copy_n(bytes + sent, piece, data + aUEI_HEADER_LENGTH);
        sent += piece;
        const bool more = sent < length;
        data[aUEI_HEADER_LENGTH + piece] = static_cast<uint8_t>((more ? aUEI_BYTES_CONTINUE : 0) | sequence);
        aPacket* packet = aPacket_CreateWithData(address, piece + BYTES_OVERHEAD, data);
        if (!packet)
            return aErrResource;
        result = sink(packet, ref);
        aPacket_Destroy(&packet);
        if (!more)
            break;
    }
    return result;
}

aUEI_ReplyMatch aUEI_MatchReply(const aPacket* packet, uei* state) {
    if (!aVALIDPACKET(packet) || state == nullptr || packet->address != state->address ||
        packet->length < aUEI_HEADER_LENGTH || packet->data[0] != state->command ||
        packet->data[1] != state->option || (packet->data[2] & aUEI_INDEX_MASK) != state->index) {
        return aUEI_REPLY_OTHER;
    }
    if ((packet->data[2] & aUEI_INDEX_ERROR) == 0) {
        return aUEI_REPLY_VALUE;
    }
    state->index = packet->data[2];
    state->value.byteVal = packet->length > aUEI_HEADER_LENGTH ? packet->data[3] : uint8_t{aErrUnknown};
    return aUEI_REPLY_ERROR;
}
