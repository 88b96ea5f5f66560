#pragma once

#include "SimEntities.h"
#include "SimUpgradeEntity.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace qvsim {

// The upgrade entity of a device as a server program's option describes it.
struct SimUpgradeOptions {
    SimUpgradeSettings settings;
    SimUpgradeFaults faults;
    bool pooled = false; // the system entity announces pooled packets (protocol feature bit 31)
    std::optional<uint32_t> reportSerial;
    std::optional<uint8_t> reportModel;

    static constexpr uint32_t POOLED_PACKETS_FEATURE = 0x80000000;

    // A comma-separated list of: on | block=N | start=keep|restart|silent | reboot=drop|keep | uei | pooled
    // | wrong-sum[=N] | short-ack[=N] | silent=STEP[:N] | firmware-only | report-serial=HEX | report-model=N,
    // where STEP is init, data, load, prepare, sum, write or reboot, a fault without a count happens every
    // time, and firmware-only keeps the faults away from the loader's own transfer.
    // Throws std::invalid_argument.
    static SimUpgradeOptions Parse(const std::string& text);

    // Installs the entity on a module with the standard entities, and the disguise when one is asked for.
    std::shared_ptr<SimUpgradeEntity> Install(SimModule& module, const SimEntities& entities) const;
};

} // namespace qvsim
