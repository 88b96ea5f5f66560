#include "Link.h"

#include "LinkImpl.h"
#include "aDebugging.h"
#include "aLink.h"

#include <cstring>

namespace Korvalen {
namespace Quorvanta {

namespace {

// A byte string this long is acknowledged only after the device has taken it all in.
constexpr uint64_t LARGE_PAYLOAD = 1000;
constexpr uint32_t LARGE_PAYLOAD_WAIT_MS = 4000;
constexpr uint8_t PACKET_COMMAND_DATA_MAX = aPACKET_DATA_MAX - 1;

// Appends the value of a byte, 16-bit or 32-bit uei at data; its length, or 0 for another type.
uint8_t _put_value(const uei& value, uint8_t* data) {
    switch (value.valueType) {
    case aUEI_TYPE_NONE:
        return 0;
    case aUEI_TYPE_BYTE:
        data[0] = value.value.byteVal;
        return 1;
    case aUEI_TYPE_SHORT:
        aUEI_StoreShort(data, value.value.shortVal);
        return 2;
    case aUEI_TYPE_INT:
        aUEI_StoreInt(data, value.value.intVal);
        return 4;
    default:
        return 0;
    }
}

// Writes a UEI header and value as the data of one packet, with the subindex byte between them when
// there is one; the data length.
uint8_t _encode_plain_uei(const uei& request, const uint8_t* subindex, uint8_t* data) {
    data[0] = request.command;
    data[1] = request.option;
    data[2] = request.index;
    uint8_t length = aUEI_HEADER_LENGTH;
    if (subindex != nullptr) {
        data[length++] = *subindex;
    }
    return length + _put_value(request, data + length);
}

bool _is_plain_type(uint32_t valueType) {
    return valueType == aUEI_TYPE_NONE || valueType == aUEI_TYPE_BYTE || valueType == aUEI_TYPE_SHORT ||
           valueType == aUEI_TYPE_INT;
}

aErr _put_bytes_packet(const aPacket* packet, void* reference) {
    return aLink_PutPacket(*static_cast<const uint32_t*>(reference), packet);
}

struct PacketMatch {
    const uint8_t* bytes;
    uint8_t length;
};

bool _begins_with(const aPacket* packet, void* reference) {
    const PacketMatch* match = static_cast<const PacketMatch*>(reference);
    return packet->length >= match->length && std::memcmp(packet->data, match->bytes, match->length) == 0;
}

} // namespace

aErr Link::sendUEI(const uei& request) {
    aErr result = impl->checkDevice(request.address);
    if (result != aErrNone) {
        return result;
    }
    if (request.valueType == aUEI_TYPE_BYTES) {
        return aUEI_SendBytes(request.address, request.command, request.option, request.index,
                              request.value.bytes, request.bytesLength, _put_bytes_packet, &impl->linkId);
    }
    if (!_is_plain_type(request.valueType)) {
        return aErrParam;
    }
    uint8_t data[aPACKET_DATA_MAX];
    return impl->put(request.address, _encode_plain_uei(request, nullptr, data), data);
}

aErr Link::sendUEI(const uei& request, uint8_t subindex) {
    aErr result = impl->checkDevice(request.address);
    if (result != aErrNone) {
        return result;
    }
    if (!_is_plain_type(request.valueType)) {
        return aErrParam;
    }
    uint8_t data[aPACKET_DATA_MAX];
    return impl->put(request.address, _encode_plain_uei(request, &subindex, data), data);
}

bool Link::ueiFilter(const aPacket* packet, void* reference) {
    uei* state = static_cast<uei*>(reference);
    aUEI_ReplyMatch match = aUEI_MatchReply(packet, state);
    if (match != aUEI_REPLY_VALUE) {
        return match == aUEI_REPLY_ERROR;
    }
    const uint8_t* value = packet->data + aUEI_HEADER_LENGTH;
    switch (packet->length) {
    case aUEI_HEADER_LENGTH:
        state->valueType = aUEI_TYPE_NONE;
        break;
    case aUEI_HEADER_LENGTH + 1:
        state->valueType = aUEI_TYPE_BYTE;
        state->value.byteVal = value[0];
        break;
    case aUEI_HEADER_LENGTH + 2:
        state->valueType = aUEI_TYPE_SHORT;
        state->value.shortVal = aUEI_RetrieveShort(value);
        break;
    case aUEI_HEADER_LENGTH + 4:
        state->valueType = aUEI_TYPE_INT;
        state->value.intVal = aUEI_RetrieveInt(value);
        break;
    default:
        break;
    }
    return true;
}

aErr Link::receiveUEI(uint8_t address, uint8_t command, uint8_t option, uint8_t index, uei* reply) {
    return receiveUEI(address, command, option, index, reply, ueiFilter);
}

aErr Link::receiveUEI(uint8_t address, uint8_t, uint8_t, uint8_t, uei* state, aPacketFilter filter) {
    if (state == nullptr || filter == nullptr) {
        return aErrParam;
    }
    aErr result = impl->checkDevice(address);
    if (result != aErrNone) {
        return result;
    }
    uint32_t wait = LINK_REPLY_WAIT_MS;
    if (state->valueType == aUEI_TYPE_BYTES && state->bytesLength > LARGE_PAYLOAD) {
        wait = LARGE_PAYLOAD_WAIT_MS;
        aDebugging_Printf(aDEBUG_LINK, "receiveUEI - Expanding timeout for large payload: %lu\n",
                          static_cast<unsigned long>(wait));
    }
    if (impl->await(filter, state, wait)) {
        return aErrNone;
    }
    return aErrTimeout;
}

aErr Link::dropMatchingUEIPackets(uint8_t address, uint8_t command, uint8_t option, uint8_t index) {
    aErr result = impl->checkDevice(address);
    if (result != aErrNone) {
        return result;
    }
    uei match{};
    match.address = address;
    match.command = command;
    match.option = option;
    match.index = index;
    aLink_DrainPackets(impl->linkId, ueiFilter, &match);
    return aErrNone;
}

aErr Link::sendPacket(uint8_t address, uint8_t command, uint8_t length, const uint8_t* data) {
    if (!impl->connected()) {
        return aErrConnection;
    }
    if (length > PACKET_COMMAND_DATA_MAX || (length > 0 && data == nullptr)) {
        return aErrParam;
    }
    aErr result = impl->checkDevice(address);
    if (result != aErrNone) {
        return result;
    }
    uint8_t packet[aPACKET_DATA_MAX] = {command};
    if (length > 0) {
        std::memcpy(packet + 1, data, length);
    }
    return impl->put(address, length + 1, packet);
}

aErr Link::receivePacket(uint8_t address, const uint8_t* match, uint8_t* length, uint8_t* out) {
    aErr result = impl->checkDevice(address);
    if (result != aErrNone) {
        return result;
    }
    if (length == nullptr || out == nullptr || (*length > 0 && match == nullptr) ||
        *length > aPACKET_DATA_MAX) {
        return aErrParam;
    }
    PacketMatch wanted{match, *length};
    aPacketPtr reply = impl->await(_begins_with, &wanted, LINK_REPLY_WAIT_MS);
    if (!reply) {
        return aErrTimeout;
    }
    *length = reply->length;
    std::memcpy(out, reply->data, reply->length);
    return aErrNone;
}

aErr Link::enablePooledPackets(bool enable) {
    return aLink_EnablePooledPackets(impl->linkId, enable);
}

} // namespace Quorvanta
} // namespace Korvalen
