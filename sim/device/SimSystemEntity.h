#pragma once

#include "SimModule.h"
#include "SimUei.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace qvsim {

// The values of a system entity that the host can read or change. Identity values (module address,
// serial number, model, firmware version, build) come from the module's SimIdentity.
struct SimSystemSettings {
    static constexpr size_t NAME_CAPACITY = 32;
    static constexpr size_t POWER_CONFIG_CAPACITY = 32;

    uint8_t router = 0;
    uint8_t heartbeatInterval = 25;
    uint8_t led = 0;
    uint8_t bootSlot = 0;
    uint32_t inputVoltage = 5000000;
    uint8_t hardwareOffset = 0;
    uint8_t baseAddress = 2;
    uint8_t softwareOffset = 0;
    uint8_t routerAddressSetting = 0;
    uint32_t inputCurrent = 250000;
    uint32_t uptime = 0;
    int32_t maximumTemperature = 41000000;
    int32_t unregulatedVoltage = 12000000;
    int32_t unregulatedCurrent = 180000;
    int32_t temperature = 35000000;
    int32_t minimumTemperature = -5000000;
    uint8_t inputPowerSource = 0;
    uint8_t inputPowerBehavior = 0;
    std::vector<uint8_t> inputPowerBehaviorConfig;
    std::vector<uint8_t> name;
    uint32_t powerLimit = 0;
    uint32_t powerLimitMax = 0;
    uint32_t powerLimitState = 0;
    uint8_t linkInterface = 0;
    std::array<uint32_t, 4> uniqueIdentifier{};
    uint32_t hardwareVersion = 0;
    uint32_t errors = 0;
    uint8_t ledMaxBrightness = 255;
    uint32_t protocolFeatures = 0;
};

// What the host asked the entity to do beyond changing values.
struct SimSystemEvents {
    unsigned saves = 0;
    unsigned resets = 0;
    unsigned logEvents = 0;
    unsigned entityFactoryResets = 0;
    unsigned deviceFactoryResets = 0;
    uint8_t routeToMe = 0;
};

// One option the entity answers, and in which directions.
struct SimOptionAccess {
    uint8_t option;
    bool get;
    bool set;
};

// The system entity (command 3, index 0) of a module. Refuses what a device refuses: another index
// (index range), an option it does not have (invalid option), a set of a read-only option
// (permission), a get of a call or set-only option (mode), a value of the wrong width (size), a LED
// or route value other than 0 or 1 (range), and over-long byte strings (size).
class SimSystemEntity {
public:
    static constexpr uint8_t COMMAND = 3;

    // Registers the entity on the module; the module's handler keeps it alive.
    static std::shared_ptr<SimSystemEntity> Install(SimModule& module,
                                                    const SimSystemSettings& settings = {});

    SimSystemSettings Settings() const;
    void SetSettings(const SimSystemSettings& settings);
    SimSystemEvents Events() const;
    static std::vector<SimOptionAccess> Options();

    // Called with the new routing state whenever the host sets route-to-me (option 20).
    void OnRouteToMe(std::function<void(bool)> listener);

private:
    SimSystemEntity(SimModule& module, const SimSystemSettings& settings);
    void Handle(const SimPacket& packet, SimReplies& replies);
    void HandleLocked(const SimUeiRequest& request, SimReplies& replies, bool& routeChanged);

    SimModule& module_;
    mutable std::mutex mutex_;
    const SimSystemSettings defaults_;
    SimSystemSettings settings_;
    SimSystemSettings saved_;
    SimSystemEvents events_;
    SimUeiBytesReceiver receiver_;
    std::function<void(bool)> routeListener_;
};

} // namespace qvsim
