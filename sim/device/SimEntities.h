#pragma once

#include "SimFactoryEntity.h"
#include "SimInfoEntity.h"
#include "SimModule.h"
#include "SimStoreEntity.h"
#include "SimSystemEntity.h"

#include <memory>

namespace qvsim {

// The entities every simulated module has: the system entity, the information command (which knows
// the system entity's UEIs), store slots (store 0, slots 0 to 3, SLOT_CAPACITY bytes each), factory
// data and the debug echo.
struct SimEntities {
    static constexpr uint16_t SLOT_CAPACITY = 1024;
    static constexpr uint8_t SLOTS = 4;

    std::shared_ptr<SimSystemEntity> system;
    std::shared_ptr<SimInfoEntity> info;
    std::shared_ptr<SimStoreEntity> store;
    std::shared_ptr<SimFactoryEntity> factory;

    static SimEntities Install(SimModule& module, const SimSystemSettings& settings = {});
};

} // namespace qvsim
