#ifndef QUORVANTA_SYSTEMCLASS_H
#define QUORVANTA_SYSTEMCLASS_H

#include "Entity.h"

#include <cstddef>
#include <cstdint>

namespace Korvalen {
namespace Quorvanta {

// The system entity (command 3) of a device: one operation per option.
class SystemClass : public EntityClass {
public:
    static constexpr uint8_t COMMAND = 3;

    enum Option : uint8_t {
        OPTION_MODULE = 1,
        OPTION_ROUTER = 2,
        OPTION_HB_INTERVAL = 3,
        OPTION_LED = 4,
        OPTION_BOOT_SLOT = 6,
        OPTION_VERSION = 7,
        OPTION_MODEL = 8,
        OPTION_SERIAL_NUMBER = 9,
        OPTION_SAVE = 10,
        OPTION_RESET = 11,
        OPTION_INPUT_VOLTAGE = 12,
        OPTION_MODULE_HARDWARE_OFFSET = 13,
        OPTION_MODULE_BASE_ADDRESS = 14,
        OPTION_MODULE_SOFTWARE_OFFSET = 15,
        OPTION_ROUTER_ADDRESS_SETTING = 16,
        OPTION_ROUTE_TO_ME = 20,
        OPTION_INPUT_CURRENT = 21,
        OPTION_UPTIME = 22,
        OPTION_MAXIMUM_TEMPERATURE = 23,
        OPTION_LOG_EVENTS = 24,
        OPTION_UNREGULATED_VOLTAGE = 25,
        OPTION_UNREGULATED_CURRENT = 26,
        OPTION_TEMPERATURE = 27,
        OPTION_MINIMUM_TEMPERATURE = 28,
        OPTION_INPUT_POWER_SOURCE = 29,
        OPTION_INPUT_POWER_BEHAVIOR = 30,
        OPTION_INPUT_POWER_BEHAVIOR_CONFIG = 31,
        OPTION_NAME = 32,
        OPTION_POWER_LIMIT = 33,
        OPTION_POWER_LIMIT_MAX = 34,
        OPTION_POWER_LIMIT_STATE = 35,
        OPTION_RESET_ENTITY_TO_FACTORY_DEFAULTS = 36,
        OPTION_RESET_DEVICE_TO_FACTORY_DEFAULTS = 37,
        OPTION_LINK_INTERFACE = 38,
        // Four 32-bit words, subindex 0 to 3: the device's unique identifier.
        OPTION_UNIQUE_IDENTIFIER = 39,
        OPTION_HARDWARE_VERSION = 40,
        OPTION_ERRORS = 41,
        OPTION_LED_MAX_BRIGHTNESS = 42,
        OPTION_BUILD = 43,
        OPTION_PROTOCOL_FEATURES = 45,
    };

    void init(Module* module, uint8_t index);

    aErr getModule(uint8_t* address);
    aErr setRouter(uint8_t address);
    aErr getRouter(uint8_t* address);
    aErr setHBInterval(uint8_t interval);
    aErr getHBInterval(uint8_t* interval);
    // Sends 1 for any non-zero state.
    aErr setLED(uint8_t state);
    aErr getLED(uint8_t* state);
    aErr setBootSlot(uint8_t slot);
    aErr getBootSlot(uint8_t* slot);
    // The packed firmware version (see aVersion_Parse*).
    aErr getVersion(uint32_t* version);
    aErr getModel(uint8_t* model);
    aErr getSerialNumber(uint32_t* serialNumber);
    aErr save();
    aErr reset();
    aErr getInputVoltage(uint32_t* voltage);
    aErr getModuleHardwareOffset(uint8_t* offset);
    aErr getModuleBaseAddress(uint8_t* address);
    aErr setModuleSoftwareOffset(uint8_t offset);
    aErr getModuleSoftwareOffset(uint8_t* offset);
    aErr getRouterAddressSetting(uint8_t* address);
    aErr routeToMe(uint8_t enable);
    aErr getInputCurrent(uint32_t* current);
    aErr getUptime(uint32_t* uptime);
    aErr getMaximumTemperature(int32_t* temperature);
    aErr logEvents();
    aErr getUnregulatedVoltage(int32_t* voltage);
    aErr getUnregulatedCurrent(int32_t* current);
    aErr getTemperature(int32_t* temperature);
    aErr getMinimumTemperature(int32_t* temperature);
    aErr getInputPowerSource(uint8_t* source);
    aErr setInputPowerBehavior(uint8_t behavior);
    aErr getInputPowerBehavior(uint8_t* behavior);
    // Words travel as their bytes in memory order.
    aErr setInputPowerBehaviorConfig(const uint32_t* words, size_t count);
    // aErrSize when the device sends a byte count that is not a whole number of words.
    aErr getInputPowerBehaviorConfig(uint32_t* words, size_t capacity, size_t* count);
    aErr setName(const uint8_t* bytes, size_t length);
    aErr getName(uint8_t* bytes, size_t capacity, size_t* length);
    aErr getPowerLimit(uint32_t* limit);
    aErr setPowerLimitMax(uint32_t limit);
    aErr getPowerLimitMax(uint32_t* limit);
    aErr getPowerLimitState(uint32_t* state);
    aErr resetEntityToFactoryDefaults();
    aErr resetDeviceToFactoryDefaults();
    aErr setLinkInterface(uint8_t linkInterface);
    aErr getLinkInterface(uint8_t* linkInterface);
    aErr getHardwareVersion(uint32_t* version);
    aErr getErrors(uint32_t* errors);
    aErr setLEDMaxBrightness(uint8_t brightness);
    aErr getLEDMaxBrightness(uint8_t* brightness);
    aErr getBuild(uint32_t* build);
    aErr getProtocolFeatures(uint32_t* features);
};

} // namespace Quorvanta
} // namespace Korvalen

#endif
