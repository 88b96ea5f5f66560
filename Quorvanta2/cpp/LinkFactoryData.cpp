#include "Link.h"

#include "LinkImpl.h"

#include <algorithm>
#include <cstring>

namespace Korvalen {
namespace Quorvanta {

namespace {

constexpr uint8_t FACTORY_COMMAND = 94;
constexpr uint8_t FACTORY_SELECTOR_MASK = 0x0F;
constexpr uint8_t FACTORY_TO_DEVICE = 0x10;
constexpr uint8_t FACTORY_CLOSE = 0x20;
constexpr uint8_t FACTORY_FIRST = 0x40;
constexpr uint8_t FACTORY_ERROR = 0x80;
// The command byte and the selector byte of every factory packet.
constexpr uint8_t COMMAND_OVERHEAD = 2;
constexpr uint8_t FACTORY_PIECE_MAX = aPACKET_DATA_MAX - COMMAND_OVERHEAD;

// Accepts the reply to a factory packet whose selector byte is in reference.
bool _factory_filter(const aPacket* packet, void* reference) {
    uint8_t selector = *static_cast<const uint8_t*>(reference) & FACTORY_SELECTOR_MASK;
    return packet->length > 1 && packet->data[0] == FACTORY_COMMAND &&
           (packet->data[1] == selector || packet->data[1] == (selector | FACTORY_ERROR));
}

bool _is_error(const aPacket* reply) {
    return (reply->data[1] & FACTORY_ERROR) != 0;
}

aErr _error_code(const aPacket* reply) {
    if (reply->length > COMMAND_OVERHEAD) {
        return reply->data[COMMAND_OVERHEAD];
    }
    return aErrUnknown;
}

aErr _factory_exchange(const Link::Impl& link, uint8_t address, const uint8_t* request, uint8_t length,
                       aPacketPtr& reply) {
    aErr result = link.put(address, length, request);
    if (result != aErrNone) {
        return result;
    }
    uint8_t selector = request[1];
    reply = link.await(_factory_filter, &selector, LINK_REPLY_WAIT_MS);
    if (reply) {
        return aErrNone;
    }
    return aErrTimeout;
}

// Ends a transfer by telling the device how many bytes it moved.
aErr _factory_close(const Link::Impl& link, uint8_t address, uint64_t count) {
    const uint8_t request[] = {FACTORY_COMMAND, FACTORY_CLOSE, static_cast<uint8_t>(count >> 8),
                               static_cast<uint8_t>(count)};
    aPacketPtr reply;
    aErr result = _factory_exchange(link, address, request, sizeof request, reply);
    if (result != aErrNone) {
        return result;
    }
    if (_is_error(reply.get())) {
        return _error_code(reply.get());
    }
    return aErrNone;
}

} // namespace

aErr Link::getFactoryData(uint8_t address, uint8_t selector, uint8_t* buffer, uint64_t bufferLength,
                          uint64_t* unloaded) {
    if (buffer == nullptr || unloaded == nullptr || selector > FACTORY_SELECTOR_MASK) {
        return aErrParam;
    }
    if (!impl->connected()) {
        return aErrConnection;
    }
    aErr result = aErrNone;
    uint64_t total = 0;
    bool first = true;
    uint8_t lastLength = 0;
    do {
        const uint8_t request[] = {FACTORY_COMMAND,
                                   static_cast<uint8_t>(selector | (first ? FACTORY_FIRST : 0))};
        aPacketPtr reply;
        result = _factory_exchange(*impl, address, request, sizeof request, reply);
        if (result != aErrNone) {
            break;
        }
        // A refusal is the device's code, whatever room the buffer has left.
        uint64_t payload = reply->length - COMMAND_OVERHEAD;
        if (_is_error(reply.get())) {
            result = _error_code(reply.get());
        } else if (total + payload >= bufferLength) {
            result = aErrOverrun;
        } else {
            std::memcpy(buffer + total, reply->data + COMMAND_OVERHEAD, payload);
            total += payload;
        }
        lastLength = reply->length;
        first = false;
    } while (result == aErrNone && lastLength == aPACKET_DATA_MAX);
    if (result == aErrNone) {
        result = _factory_close(*impl, address, total);
    }
    if (result == aErrNone) {
        *unloaded = total;
    }
    return result;
}

aErr Link::setFactoryData(uint8_t address, uint8_t selector, const uint8_t* data, uint64_t length) {
    if ((data == nullptr && length > 0) || selector > FACTORY_SELECTOR_MASK) {
        return aErrParam;
    }
    if (!impl->connected()) {
        return aErrConnection;
    }
    aErr result = aErrNone;
    for (uint64_t sent = 0; result == aErrNone && sent < length;) {
        uint8_t piece = static_cast<uint8_t>(std::min<uint64_t>(length - sent, FACTORY_PIECE_MAX));
        uint8_t request[aPACKET_DATA_MAX] = {
            FACTORY_COMMAND,
            static_cast<uint8_t>(selector | FACTORY_TO_DEVICE | (sent == 0 ? FACTORY_FIRST : 0))};
        std::memcpy(request + COMMAND_OVERHEAD, data + sent, piece);
        aPacketPtr reply;
        result = _factory_exchange(*impl, address, request, COMMAND_OVERHEAD + piece, reply);
        if (result != aErrNone) {
            break;
        }
        if (_is_error(reply.get())) {
            result = _error_code(reply.get());
        } else if (reply->length != COMMAND_OVERHEAD) {
            result = aErrSize;
        }
        sent += piece;
    }
    return result == aErrNone ? _factory_close(*impl, address, length) : result;
}

} // namespace Quorvanta
} // namespace Korvalen
