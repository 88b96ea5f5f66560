#include "Entity.h"

#include <cstring>
#include <limits>

namespace Korvalen {
namespace Quorvanta {

namespace {

// A bytes-form packet: three header bytes, the piece, the trailer.
constexpr uint8_t BYTES_OVERHEAD = aUEI_HEADER_LENGTH + 1;

uei _request(uint8_t address, uint8_t command, uint8_t option, uint8_t index) {
    uei request{};
    request.address = address;
    request.command = command;
    request.option = option;
    request.index = index;
    return request;
}

// The value a reply carried, widened to 32 bits; false when it carried none.
bool _reply_value(const uei& reply, uint32_t* value) {
    switch (reply.valueType) {
    case aUEI_TYPE_BYTE:
        *value = reply.value.byteVal;
        return true;
    case aUEI_TYPE_SHORT:
        *value = reply.value.shortVal;
        return true;
    case aUEI_TYPE_INT:
        *value = reply.value.intVal;
        return true;
    default:
        return false;
    }
}

bool _is_error_reply(const uei& reply) {
    return (reply.index & aUEI_INDEX_ERROR) != 0;
}

// Takes the pieces of a byte string in order into the buffer the state describes (see getUEIBytes).
bool _bytes_filter(const aPacket* packet, void* reference) {
    uei* state = static_cast<uei*>(reference);
    switch (aUEI_MatchReply(packet, state)) {
    case aUEI_REPLY_OTHER:
        return false;
    case aUEI_REPLY_ERROR:
        state->continues = 0;
        return true;
    case aUEI_REPLY_VALUE:
        break;
    }
    if (packet->length < BYTES_OVERHEAD || aUEI_getBytesSequence(packet) != state->sequence) {
        return false;
    }
    state->continues = aUEI_getBytesContinue(packet);
    const uint8_t payload = packet->length - BYTES_OVERHEAD;
    if (*state->bytesReceived + payload > state->bytesLength) {
        state->index |= aUEI_INDEX_ERROR;
        state->value.byteVal = aErrMemory;
        return true;
    }
    std::memcpy(state->value.bytes, packet->data + aUEI_HEADER_LENGTH, payload);
    state->value.bytes += payload;
    *state->bytesReceived += payload;
    return true;
}

// Takes the remaining pieces of a byte string that is not wanted any more, in order.
bool _discard_filter(const aPacket* packet, void* reference) {
    uei* state = static_cast<uei*>(reference);
    if (packet->address != state->address || packet->length < BYTES_OVERHEAD ||
        packet->data[0] != state->command || packet->data[1] != state->option ||
        packet->data[2] != state->index || aUEI_getBytesSequence(packet) != state->sequence) {
        return false;
    }
    state->continues = aUEI_getBytesContinue(packet);
    return true;
}

} // namespace

struct EntityClass::Impl {
    Module* module = nullptr;
    uint8_t command = 0;
    uint8_t index = 0;

    Link* link() const { return module == nullptr ? nullptr : module->getLink(); }
    uint8_t address() const { return module->getModuleAddress(); }

    // A typed get of a byte, 16-bit or 32-bit value, of a sub-element when subindex is given.
    template <typename T>
    aErr getTyped(EntityClass& entity, uint8_t option, const uint8_t* subindex, T* out) {
        if (out == nullptr) {
            return aErrParam;
        }
        uei value{};
        if (subindex != nullptr) {
            value.valueType = aUEI_TYPE_BYTE;
            value.value.byteVal = *subindex;
        }
        aErr result = entity.getUEI(option, &value);
        if (result != aErrNone && result != aErrStreamStale) {
            return result;
        }
        uint32_t wide = 0;
        if (!_reply_value(value, &wide) || wide > std::numeric_limits<T>::max()) {
            return aErrSize;
        }
        *out = static_cast<T>(wide);
        return result;
    }

    // A set of a value of valueType, of a sub-element when subindex is given.
    aErr setTyped(EntityClass& entity, uint8_t option, const uint8_t* subindex, uint32_t valueType,
                  uint32_t value) {
        uei request{};
        request.valueType = valueType;
        switch (valueType) {
        case aUEI_TYPE_BYTE:
            request.value.byteVal = static_cast<uint8_t>(value);
            break;
        case aUEI_TYPE_SHORT:
            request.value.shortVal = static_cast<uint16_t>(value);
            break;
        default:
            request.value.intVal = value;
            break;
        }
        return subindex == nullptr ? entity.setUEI(option, &request)
                                   : entity.setUEI(option, *subindex, &request);
    }

    // Waits for the pieces of a byte string that follow the one that state last took, until its last.
    void discardRest(Link& link, const uei& taken) {
        uei state = _request(taken.address, command, taken.option, index);
        state.sequence = taken.sequence;
        do {
            state.sequence = (state.sequence + 1) & aUEI_BYTES_SEQUENCE_MASK;
        } while (link.receiveUEI(state.address, command, state.option, index, &state, _discard_filter) ==
                     aErrNone &&
                 state.continues);
    }

    // Sends the set request (with the subindex when given) and waits for its acknowledgement.
    aErr set(uint8_t option, const uint8_t* subindex, uei* value) {
        Link* link = this->link();
        if (link == nullptr) {
            return aErrResource;
        }
        if (value == nullptr) {
            return aErrParam;
        }
        value->address = address();
        value->command = command;
        value->option = option | aUEI_OPTION_SET;
        value->index = index | aUEI_INDEX_REQUEST;
        const uei request = *value;
        aErr result = subindex == nullptr ? link->sendUEI(request) : link->sendUEI(request, *subindex);
        if (result != aErrNone) {
            return result;
        }
        value->option = option | aUEI_OPTION_ACK;
        value->index = index;
        result = link->receiveUEI(value->address, command, value->option, index, value);
        if (result != aErrNone) {
            return result;
        }
        if (_is_error_reply(*value)) {
            return value->value.byteVal;
        }
        return aErrNone;
    }
};

EntityClass::EntityClass() : impl(new Impl) {}

EntityClass::~EntityClass() {
    delete impl;
}

void EntityClass::init(Module* module, uint8_t command, uint8_t index) {
    impl->module = module;
    impl->command = command;
    impl->index = index;
}

uint8_t EntityClass::getIndex() const {
    return impl->index;
}

aErr EntityClass::sendPacket(uint8_t command, uint8_t length, const uint8_t* data) {
    Link* link = impl->link();
    if (link == nullptr) {
        return aErrResource;
    }
    return link->sendPacket(impl->address(), command, length, data);
}

aErr EntityClass::receivePacket(const uint8_t* match, uint8_t* length, uint8_t* out) {
    Link* link = impl->link();
    if (link == nullptr) {
        return aErrResource;
    }
    return link->receivePacket(impl->address(), match, length, out);
}

aErr EntityClass::getUEI(uint8_t option, uei* value) {
    Link* link = impl->link();
    if (link == nullptr) {
        return aErrResource;
    }
    if (value == nullptr) {
        return aErrParam;
    }
    const uint8_t address = impl->address();
    const bool sub = value->valueType == aUEI_TYPE_BYTE;
    uint32_t streamed = 0;
    aErr result = link->getStreamValue(address, impl->command, option, impl->index,
                                       sub ? value->value.byteVal : 0, &streamed);
    if (result != aErrNotFound) {
        if (result == aErrNone || result == aErrStreamStale) {
            value->valueType = aUEI_TYPE_INT;
            value->value.intVal = streamed;
        }
        return result;
    }
    value->address = address;
    value->command = impl->command;
    value->option = option | aUEI_OPTION_GET;
    value->index = impl->index | aUEI_INDEX_REQUEST;
    result = link->sendUEI(*value);
    if (result != aErrNone) {
        return result;
    }
    // A reply without a value of a known form leaves none behind rather than the request's.
    value->option = option;
    value->index = impl->index;
    value->valueType = aUEI_TYPE_NONE;
    result = link->receiveUEI(address, impl->command, option, impl->index, value);
    if (result != aErrNone) {
        return result;
    }
    if (_is_error_reply(*value)) {
        return value->value.byteVal;
    }
    return aErrNone;
}

aErr EntityClass::setUEI(uint8_t option, uei* value) {
    return impl->set(option, nullptr, value);
}

aErr EntityClass::setUEI(uint8_t option, uint8_t subindex, uei* value) {
    return impl->set(option, &subindex, value);
}

aErr EntityClass::callUEI(uint8_t option) {
    uei request{};
    return impl->set(option, nullptr, &request);
}

aErr EntityClass::getUEI8(uint8_t option, uint8_t* value) {
    return impl->getTyped(*this, option, nullptr, value);
}

aErr EntityClass::getUEI16(uint8_t option, uint16_t* value) {
    return impl->getTyped(*this, option, nullptr, value);
}

aErr EntityClass::getUEI32(uint8_t option, uint32_t* value) {
    return impl->getTyped(*this, option, nullptr, value);
}

aErr EntityClass::getUEI8(uint8_t option, uint8_t subindex, uint8_t* value) {
    return impl->getTyped(*this, option, &subindex, value);
}

aErr EntityClass::getUEI16(uint8_t option, uint8_t subindex, uint16_t* value) {
    return impl->getTyped(*this, option, &subindex, value);
}

aErr EntityClass::getUEI32(uint8_t option, uint8_t subindex, uint32_t* value) {
    return impl->getTyped(*this, option, &subindex, value);
}

aErr EntityClass::setUEI8(uint8_t option, uint8_t value) {
    return impl->setTyped(*this, option, nullptr, aUEI_TYPE_BYTE, value);
}

aErr EntityClass::setUEI16(uint8_t option, uint16_t value) {
    return impl->setTyped(*this, option, nullptr, aUEI_TYPE_SHORT, value);
}

aErr EntityClass::setUEI32(uint8_t option, uint32_t value) {
    return impl->setTyped(*this, option, nullptr, aUEI_TYPE_INT, value);
}

aErr EntityClass::setUEI8(uint8_t option, uint8_t subindex, uint8_t value) {
    return impl->setTyped(*this, option, &subindex, aUEI_TYPE_BYTE, value);
}

aErr EntityClass::setUEI16(uint8_t option, uint8_t subindex, uint16_t value) {
    return impl->setTyped(*this, option, &subindex, aUEI_TYPE_SHORT, value);
}

aErr EntityClass::setUEI32(uint8_t option, uint8_t subindex, uint32_t value) {
    return impl->setTyped(*this, option, &subindex, aUEI_TYPE_INT, value);
}

aErr EntityClass::setUEIBytes(uint8_t option, const uint8_t* data, size_t length) {
    uei request{};
    request.valueType = aUEI_TYPE_BYTES;
    request.value.bytes = const_cast<uint8_t*>(data);
    request.bytesLength = length;
    return impl->set(option, nullptr, &request);
}

aErr EntityClass::getUEIBytes(uint8_t option, uint8_t* buffer, size_t bufferLength, size_t* received) {
    if (buffer == nullptr || received == nullptr || bufferLength == 0) {
        return aErrParam;
    }
    *received = 0;
    Link* link = impl->link();
    if (link == nullptr) {
        return aErrResource;
    }
    const uint8_t address = impl->address();
    // Pieces left over from a string that was not taken whole would be taken for this one's.
    link->dropMatchingUEIPackets(address, impl->command, option, impl->index);
    aErr result = link->sendUEI(
        _request(address, impl->command, option | aUEI_OPTION_GET, impl->index | aUEI_INDEX_REQUEST));
    if (result != aErrNone) {
        return result;
    }
    uint64_t count = 0;
    uei state = _request(address, impl->command, option, impl->index);
    state.value.bytes = buffer;
    state.bytesLength = bufferLength;
    state.bytesReceived = &count;
    while (true) {
        result = link->receiveUEI(address, impl->command, option, impl->index, &state, _bytes_filter);
        *received = count;
        if (result != aErrNone) {
            return result;
        }
        if (_is_error_reply(state)) {
            // The device goes on sending a string that did not fit; its pieces must not be taken
            // for those of the next one.
            if (state.continues) {
                impl->discardRest(*link, state);
            }
            return state.value.byteVal;
        }
        if (!state.continues) {
            return aErrNone;
        }
        // Sequence numbers wrap after 127, so long strings go on past their 128th piece.
        state.sequence = (state.sequence + 1) & aUEI_BYTES_SEQUENCE_MASK;
    }
}

aErr EntityClass::getUEIBytesCheck(size_t* count, size_t unitSize) {
    if (count == nullptr) {
        return aErrParam;
    }
    if (unitSize == 0 ? *count != 0 : *count % unitSize != 0) {
        return 1;
    }
    *count = unitSize == 0 ? 0 : *count / unitSize;
    return aErrNone;
}

aErr EntityClass::awaitUEI32Val(uint8_t option, uint32_t* value, uint32_t) {
    if (value == nullptr) {
        return aErrParam;
    }
    Link* link = impl->link();
    if (link == nullptr) {
        return aErrResource;
    }
    uei reply = _request(impl->address(), impl->command, option, impl->index);
    aErr result = link->receiveUEI(reply.address, impl->command, option, impl->index, &reply);
    if (result != aErrNone) {
        return result;
    }
    if (_is_error_reply(reply)) {
        return reply.value.byteVal;
    }
    if (_reply_value(reply, value)) {
        return aErrNone;
    }
    return aErrSize;
}

aErr EntityClass::drainUEI(uint8_t option) {
    Link* link = impl->link();
    if (link == nullptr) {
        return aErrResource;
    }
    return link->dropMatchingUEIPackets(impl->address(), impl->command, option, impl->index);
}

} // namespace Quorvanta
} // namespace Korvalen
