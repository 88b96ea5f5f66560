#pragma once

#include "SimModule.h"
#include "SimSystemEntity.h"

#include <cstdint>

namespace qvsim {

// Makes a module claim another serial number and model through its system entity, as a device with
// damaged factory data would, while discovery and the other entities still tell the truth. The system
// entity is replaced by one of a shadow module, so listeners of the original one (a router's routing)
// no longer hear anything: meant for directly attached devices.
class SimDisguise {
public:
    static void Install(SimModule& module, uint32_t serialNumber, uint8_t model,
                        const SimSystemSettings& settings = {});
};

} // namespace qvsim
