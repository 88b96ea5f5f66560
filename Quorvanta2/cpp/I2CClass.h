#ifndef QUORVANTA_I2CCLASS_H
#define QUORVANTA_I2CCLASS_H

#include "Entity.h"

#include <cstdint>

namespace Korvalen {
namespace Quorvanta {

// The I2C bus entity (command 8) of a device, spoken with plain command packets. Addresses are 8-bit
// bus addresses; a transfer moves at most 23 bytes. A bus status with bit 7 set becomes the result
// (its bits 0-6).
class I2CClass : public EntityClass {
public:
    static constexpr uint8_t COMMAND = 8;
    static constexpr uint8_t LENGTH_MAX = 23;
    static constexpr uint8_t SPEED_MAX = 3;

    // Binds the entity; the speed code starts at 0.
    void init(Module* module, uint8_t index);

    aErr read(uint8_t address, uint8_t length, uint8_t* buffer);
    aErr write(uint8_t address, uint8_t length, const uint8_t* data);
    aErr setPullup(bool enable);
    // The speed code (0 to 3) sent with every read and write.
    aErr setSpeed(uint8_t code);
    aErr getSpeed(uint8_t* code) const;

private:
    uint8_t speed = 0;
};

} // namespace Quorvanta
} // namespace Korvalen

#endif
