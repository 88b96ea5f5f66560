#include "SimDisguise.h"

#include <memory>

namespace qvsim {

void SimDisguise::Install(SimModule& module, uint32_t serialNumber, uint8_t model,
                          const SimSystemSettings& settings) {
    SimIdentity shown = module.Identity();
    shown.serialNumber = serialNumber;
    shown.model = model;
    auto shadow = std::make_shared<SimModule>(shown);
    SimSystemEntity::Install(*shadow, settings);
    module.RegisterCommand(SimSystemEntity::COMMAND, [shadow](const SimPacket& request, SimReplies& replies) {
        shadow->Dispatch(request, replies);
    });
}

} // namespace qvsim
