#include "Link.h"

#include "LinkImpl.h"

#include <algorithm>
#include <cstring>
#include <numeric>

namespace Korvalen {
namespace Quorvanta {

namespace {

constexpr uint8_t SLOT_COMMAND = 4;
constexpr uint8_t SLOT_CAPACITY = 1;
constexpr uint8_t SLOT_SIZE = 2;
constexpr uint8_t SLOT_OPEN_READ = 3;
constexpr uint8_t SLOT_OPEN_WRITE = 4;
constexpr uint8_t SLOT_READ = 6;
constexpr uint8_t SLOT_WRITE = 7;
constexpr uint8_t SLOT_CLOSE = 8;
constexpr uint8_t SLOT_ERROR = 0x80;
constexpr uint8_t SLOT_NOT_OPEN = 255;
constexpr uint8_t SLOT_PIECE_MAX = 25;
constexpr uint32_t SLOT_OPEN_WAIT_MS = 3000;
// Replies to slot requests (4, operation, store, slot) and handle requests (4, operation, handle).
constexpr uint8_t SLOT_REQUEST_LENGTH = 4;
constexpr uint8_t HANDLE_REQUEST_LENGTH = 3;
constexpr uint8_t SIZE_REPLY_LENGTH = 6;

bool _is_slot_operation(uint8_t operation) {
    return operation >= SLOT_CAPACITY && operation <= SLOT_OPEN_WRITE;
}

bool _is_error(const aPacket* reply) {
    return (reply->data[1] & SLOT_ERROR) != 0;
}

// The device's code in an error reply: after the store and slot, or after the handle.
aErr _error_code(const aPacket* reply) {
    uint8_t at =
        _is_slot_operation(reply->data[1] & ~SLOT_ERROR) ? SLOT_REQUEST_LENGTH : HANDLE_REQUEST_LENGTH;
    if (reply->length > at) {
        return reply->data[at];
    }
    return aErrUnknown;
}

// Accepts the reply to the request in reference: the same operation (with or without the error bit)
// for the same store and slot, or the same handle.
bool _slot_reply_filter(const aPacket* packet, void* reference) {
    const uint8_t* request = static_cast<const uint8_t*>(reference);
    if (packet->length <= HANDLE_REQUEST_LENGTH || packet->data[0] != SLOT_COMMAND ||
        (packet->data[1] & ~SLOT_ERROR) != request[1]) {
        return false;
    }
    if (_is_slot_operation(request[1])) {
        return packet->data[2] == request[2] && packet->data[3] == request[3];
    }
    return packet->data[2] == request[2];
}

uint8_t _sum(const uint8_t* bytes, size_t length) {
    return std::accumulate(bytes, bytes + length, uint8_t{0});
}

// Sends one slot request and waits for its reply.
aErr _slot_exchange(const Link::Impl& link, uint8_t address, const uint8_t* request, uint8_t length,
                    uint32_t wait, aPacketPtr& reply) {
    aErr result = link.put(address, length, request);
    if (result != aErrNone) {
        return result;
    }
    reply = link.await(_slot_reply_filter, const_cast<uint8_t*>(request), wait);
    if (reply) {
        return aErrNone;
    }
    return aErrTimeout;
}

// Opens the slot for reading or writing; the handle, or SLOT_NOT_OPEN.
uint8_t _open(const Link::Impl& link, uint8_t address, uint8_t operation, uint8_t store, uint8_t slot) {
    const uint8_t request[] = {SLOT_COMMAND, operation, store, slot};
    aPacketPtr reply;
    if (_slot_exchange(link, address, request, sizeof request, SLOT_OPEN_WAIT_MS, reply) != aErrNone ||
        _is_error(reply.get()) || reply->length <= SLOT_REQUEST_LENGTH) {
        return SLOT_NOT_OPEN;
    }
    return reply->data[SLOT_REQUEST_LENGTH];
}

aErr _close(const Link::Impl& link, uint8_t address, uint8_t handle) {
    const uint8_t request[] = {SLOT_COMMAND, SLOT_CLOSE, handle};
    aPacketPtr reply;
    aErr result = _slot_exchange(link, address, request, sizeof request, LINK_REPLY_WAIT_MS, reply);
    if (result != aErrNone) {
        return result;
    }
    if (reply->length != SLOT_REQUEST_LENGTH) {
        return aErrIO;
    }
    if (_is_error(reply.get())) {
        return _error_code(reply.get());
    }
    return aErrNone;
}

// Capacity or size of a slot: a 16-bit value.
aErr _slot_value(const Link::Impl& link, uint8_t address, uint8_t operation, uint8_t store, uint8_t slot,
                 uint64_t* value) {
    if (value == nullptr) {
        return aErrParam;
    }
    if (!link.connected()) {
        return aErrConnection;
    }
    const uint8_t request[] = {SLOT_COMMAND, operation, store, slot};
    aPacketPtr reply;
    aErr result = _slot_exchange(link, address, request, sizeof request, LINK_REPLY_WAIT_MS, reply);
    if (result != aErrNone) {
        return result;
    }
    if (_is_error(reply.get())) {
        return _error_code(reply.get());
    }
    if (reply->length != SIZE_REPLY_LENGTH) {
        return aErrUnknown;
    }
    *value = aUEI_RetrieveShort(reply->data + SLOT_REQUEST_LENGTH);
    return aErrNone;
}

} // namespace

aErr Link::storeSlotCapacity(uint8_t address, uint8_t store, uint8_t slot, uint64_t* capacity) {
    return _slot_value(*impl, address, SLOT_CAPACITY, store, slot, capacity);
}

aErr Link::storeSlotSize(uint8_t address, uint8_t store, uint8_t slot, uint64_t* size) {
    return _slot_value(*impl, address, SLOT_SIZE, store, slot, size);
}

aErr Link::loadStoreSlot(uint8_t address, uint8_t store, uint8_t slot, const uint8_t* data, uint64_t length) {
    if (data == nullptr && length > 0) {
        return aErrParam;
    }
    if (!impl->connected()) {
        return aErrConnection;
    }
    uint8_t handle = _open(*impl, address, SLOT_OPEN_WRITE, store, slot);
    if (handle == SLOT_NOT_OPEN) {
        return aErrMedia;
    }
    aErr result = aErrNone;
    for (uint64_t sent = 0; result == aErrNone && sent < length;) {
        uint8_t piece = static_cast<uint8_t>(std::min<uint64_t>(length - sent, SLOT_PIECE_MAX));
        uint8_t request[aPACKET_DATA_MAX] = {SLOT_COMMAND, SLOT_WRITE, handle};
        std::memcpy(request + HANDLE_REQUEST_LENGTH, data + sent, piece);
        aPacketPtr reply;
        result =
            _slot_exchange(*impl, address, request, HANDLE_REQUEST_LENGTH + piece, LINK_REPLY_WAIT_MS, reply);
        if (result != aErrNone) {
            break;
        }
        if (_is_error(reply.get())) {
            result = _error_code(reply.get());
        } else if (reply->length != SLOT_REQUEST_LENGTH ||
                   reply->data[HANDLE_REQUEST_LENGTH] != _sum(data + sent, piece)) {
            result = aErrIO;
        }
        sent += piece;
    }
    aErr closed = _close(*impl, address, handle);
    return result != aErrNone ? result : closed;
}

aErr Link::unloadStoreSlot(uint8_t address, uint8_t store, uint8_t slot, uint8_t* buffer,
                           uint64_t bufferLength, uint64_t* unloaded) {
    if (buffer == nullptr || unloaded == nullptr) {
        return aErrParam;
    }
    *unloaded = 0;
    if (!impl->connected()) {
        return aErrConnection;
    }
    uint64_t size = 0;
    aErr result = storeSlotSize(address, store, slot, &size);
    if (result != aErrNone) {
        return result;
    }
    uint8_t handle = _open(*impl, address, SLOT_OPEN_READ, store, slot);
    if (handle == SLOT_NOT_OPEN) {
        return aErrMedia;
    }
    const uint64_t count = std::min(bufferLength, size);
    for (uint64_t taken = 0; result == aErrNone && taken < count;) {
        const uint8_t request[] = {SLOT_COMMAND, SLOT_READ, handle};
        aPacketPtr reply;
        result = _slot_exchange(*impl, address, request, sizeof request, LINK_REPLY_WAIT_MS, reply);
        if (result != aErrNone) {
            break;
        }
        if (_is_error(reply.get())) {
            result = _error_code(reply.get());
        } else {
            uint64_t piece = std::min<uint64_t>(reply->length - HANDLE_REQUEST_LENGTH, count - taken);
            std::memcpy(buffer + taken, reply->data + HANDLE_REQUEST_LENGTH, piece);
            taken += piece;
        }
    }
    aErr closed = _close(*impl, address, handle);
    if (result == aErrNone) {
        result = closed;
    }
    if (result == aErrNone) {
        *unloaded = count;
        if (bufferLength < size) {
            result = aErrOverrun;
        }
    }
    return result;
}

} // namespace Quorvanta
} // namespace Korvalen
