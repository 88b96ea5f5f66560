#include "SimEntities.h"

#include "SimDebugEntity.h"

namespace qvsim {

SimEntities SimEntities::Install(SimModule& module, const SimSystemSettings& settings) {
    SimEntities entities;
    entities.system = SimSystemEntity::Install(module, settings);
    entities.info = SimInfoEntity::Install(module);
    for (const auto& access : SimSystemEntity::Options()) {
        entities.info->DeclareUei(SimSystemEntity::COMMAND, access.option, 0, access.get, access.set);
    }
    entities.store = SimStoreEntity::Install(module);
    for (uint8_t slot = 0; slot < SLOTS; ++slot) {
        entities.store->AddSlot(0, slot, SLOT_CAPACITY);
    }
    entities.factory = SimFactoryEntity::Install(module);
    SimDebugEntity::Install(module);
    return entities;
}

} // namespace qvsim
