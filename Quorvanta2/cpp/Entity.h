#ifndef QUORVANTA_ENTITY_H
#define QUORVANTA_ENTITY_H

#include "Module.h"
#include "aError.h"
#include "aUEI.h"

#include <cstddef>
#include <cstdint>

namespace Korvalen {
namespace Quorvanta {

// One addressable feature of a device: a command byte (the entity's class) and an index, bound to a
// Module whose link and address every request uses. Results are the device's own error code when it
// refuses a request. Every operation that talks to the device answers aErrResource while the entity
// has no module or the module no link.
class EntityClass {
public:
    EntityClass();
    virtual ~EntityClass();
    EntityClass(const EntityClass&) = delete;
    EntityClass& operator=(const EntityClass&) = delete;

    void init(Module* module, uint8_t command, uint8_t index);
    uint8_t getIndex() const;

    // Raw command packets to and from the module's address.
    aErr sendPacket(uint8_t command, uint8_t length, const uint8_t* data);
    aErr receivePacket(const uint8_t* match, uint8_t* length, uint8_t* out);

    // A get exchange: a streamed value when the link holds one, else a request and its reply. The
    // reply's value and valueType end up in *value; valueType 1 with the byte set asks for that
    // sub-element.
    aErr getUEI(uint8_t option, uei* value);
    aErr setUEI(uint8_t option, uei* value);
    aErr setUEI(uint8_t option, uint8_t subindex, uei* value);
    aErr callUEI(uint8_t option);

    // Typed gets: the out is written on aErrNone and aErrStreamStale only; a reply without a value
    // that fits the type answers aErrSize.
    aErr getUEI8(uint8_t option, uint8_t* value);
    aErr getUEI16(uint8_t option, uint16_t* value);
    aErr getUEI32(uint8_t option, uint32_t* value);
    aErr getUEI8(uint8_t option, uint8_t subindex, uint8_t* value);
    aErr getUEI16(uint8_t option, uint8_t subindex, uint16_t* value);
    aErr getUEI32(uint8_t option, uint8_t subindex, uint32_t* value);
    aErr setUEI8(uint8_t option, uint8_t value);
    aErr setUEI16(uint8_t option, uint16_t value);
    aErr setUEI32(uint8_t option, uint32_t value);
    aErr setUEI8(uint8_t option, uint8_t subindex, uint8_t value);
    aErr setUEI16(uint8_t option, uint8_t subindex, uint16_t value);
    aErr setUEI32(uint8_t option, uint8_t subindex, uint32_t value);

    // Byte strings (the bytes form).
    aErr setUEIBytes(uint8_t option, const uint8_t* data, size_t length);
    aErr getUEIBytes(uint8_t option, uint8_t* buffer, size_t bufferLength, size_t* received);
    // Turns a byte count into a count of units: 1 (count left alone) when it is not a whole number of
    // units.
    static aErr getUEIBytesCheck(size_t* count, size_t unitSize);

    // Waits 1 s for a value of this option that the device sends without being asked.
    aErr awaitUEI32Val(uint8_t option, uint32_t* value, uint32_t time);
    // Drops queued replies of this option.
    aErr drainUEI(uint8_t option);

private:
    struct Impl;
    Impl* impl;
};

} // namespace Quorvanta
} // namespace Korvalen

#endif
