#pragma once

#include "SimFlash.h"
#include "SimInfoEntity.h"
#include "SimModule.h"
#include "SimUei.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace qvsim {

// What a device does when its new loader starts (LOAD): stay on the same connection, answer and then
// restart (the host's connection ends), or restart without answering.
enum class SimLoaderStart { Keep, Restart, Silent };

struct SimUpgradeSettings {
    uint16_t blockSize = 512; // announced for every prepared block; 0 is passed on as it is
    uint32_t loadBase = 0x10000000;
    SimLoaderStart start = SimLoaderStart::Restart;
    bool rebootDrops = true; // the reboot ends the host's connection
    bool ueiData = false;    // takes block bytes as one byte string (option 10) and declares it
};

// Fault switches; each count is how many times the fault still happens (ALWAYS: until cleared).
struct SimUpgradeFaults {
    static constexpr unsigned ALWAYS = ~0u;

    unsigned wrongSums = 0;             // the sum reply is off by one
    unsigned shortAcks = 0;             // a data piece is acknowledged one byte short and not kept
    std::map<uint8_t, unsigned> silent; // by step: the request is carried out but not answered
    bool firmwareOnly = false;          // the faults spare everything before the loader runs
};

// What the entity has been through.
struct SimUpgradeEvents {
    unsigned inits = 0;
    unsigned prepares = 0;
    unsigned dataPieces = 0;
    unsigned sums = 0;
    unsigned writes = 0;
    unsigned loaderStarts = 0;
    unsigned reboots = 0;
};

// The upgrade entity (command 95, index 0) of a module. Running firmware takes INIT, after which the
// loader blocks it receives go to loader memory; LOAD starts that loader, which takes the firmware blocks:
// each prepared at its block address, filled in pieces, summed and written to flash in the announced
// block size. REBOOT leaves the loader for the new firmware. A PREPARE before INIT, a WRITE or SUM
// without a prepared block and a WRITE of more bytes than arrived are refused with status 1.
class SimUpgradeEntity {
public:
    static constexpr uint8_t COMMAND = 95;
    static constexpr uint8_t STEP_INIT = 0;
    static constexpr uint8_t STEP_DATA = 1;
    static constexpr uint8_t STEP_LOAD = 2;
    static constexpr uint8_t STEP_PREPARE = 3;
    static constexpr uint8_t STEP_SUM = 4;
    static constexpr uint8_t STEP_WRITE = 5;
    static constexpr uint8_t STEP_REBOOT = 6;
    static constexpr uint8_t STEP_STATUS = 7;
    static constexpr uint8_t OPTION_DATA_UEI = 10;
    // Loader blocks are not written piecewise, so a whole one may arrive before its sum.
    static constexpr size_t LOADER_BLOCK_CAPACITY = 1 << 20;

    enum class Phase { Firmware, ReceivingLoader, Loader };

    // Registers the entity; with ueiData the information command learns of option 10.
    static std::shared_ptr<SimUpgradeEntity> Install(SimModule& module, SimInfoEntity& info,
                                                     const SimUpgradeSettings& settings = {});

    SimUpgradeSettings Settings() const;
    void SetSettings(const SimUpgradeSettings& settings);
    SimUpgradeFaults Faults() const;
    void SetFaults(const SimUpgradeFaults& faults);

    Phase CurrentPhase() const;
    SimUpgradeEvents Events() const;
    SimFlash Flash() const;
    SimFlash LoaderMemory() const;
    // Called on the device's thread after every reboot, with the flash as the new firmware finds it; the
    // listener must not call back into the entity.
    void OnReboot(std::function<void(const SimFlash&)> listener);

private:
    explicit SimUpgradeEntity(const SimUpgradeSettings& settings) : settings_(settings) {}
    void Handle(const SimPacket& packet, SimReplies& replies);
    void HandleStep(const SimPacket& packet, SimReplies& replies);
    void HandleUei(const SimPacket& packet, SimReplies& replies);
    void Prepare(const SimPacket& packet, SimReplies& replies);
    void Data(const SimPacket& packet, SimReplies& replies);
    void Sum(SimReplies& replies);
    void Write(const SimPacket& packet, SimReplies& replies);
    void Load(SimReplies& replies);
    void Reboot(SimReplies& replies);
    // Room of the prepared block: a whole loader block, or one piece of the announced size.
    size_t Capacity() const;
    // Takes bytes into the prepared block, all or none; false when they do not fit.
    bool Accept(const std::vector<uint8_t>& bytes);
    // Uses up one happening of a fault, where the faults apply.
    bool Consume(unsigned& count) const;

    mutable std::mutex mutex_;
    SimUpgradeSettings settings_;
    SimUpgradeFaults faults_;
    SimUpgradeEvents events_;
    Phase phase_ = Phase::Firmware;
    bool prepared_ = false;
    uint32_t address_ = 0;
    std::vector<uint8_t> received_;
    SimFlash flash_;
    SimFlash loader_;
    SimUeiBytesReceiver receiver_;
    std::function<void(const SimFlash&)> rebootListener_;
};

} // namespace qvsim
