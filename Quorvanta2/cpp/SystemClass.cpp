#include "SystemClass.h"

#include <cstring>

namespace Korvalen {
namespace Quorvanta {

namespace {

// Reads a 32-bit value as two's complement.
aErr _get_signed(EntityClass& entity, uint8_t option, int32_t* value) {
    if (value == nullptr) {
        return aErrParam;
    }
    uint32_t raw = 0;
    aErr result = entity.getUEI32(option, &raw);
    if (result == aErrNone || result == aErrStreamStale) {
        std::memcpy(value, &raw, sizeof raw);
    }
    return result;
}

} // namespace

void SystemClass::init(Module* module, uint8_t index) {
    EntityClass::init(module, COMMAND, index);
}

aErr SystemClass::getModule(uint8_t* address) {
    return getUEI8(OPTION_MODULE, address);
}

aErr SystemClass::getRouter(uint8_t* address) {
    return getUEI8(OPTION_ROUTER, address);
}

aErr SystemClass::setRouter(uint8_t address) {
    return setUEI8(OPTION_ROUTER, address);
}

aErr SystemClass::getHBInterval(uint8_t* interval) {
    return getUEI8(OPTION_HB_INTERVAL, interval);
}

aErr SystemClass::setHBInterval(uint8_t interval) {
    return setUEI8(OPTION_HB_INTERVAL, interval);
}

aErr SystemClass::getLED(uint8_t* state) {
    return getUEI8(OPTION_LED, state);
}

aErr SystemClass::setLED(uint8_t state) {
    return setUEI8(OPTION_LED, state != 0 ? 1 : 0);
}

aErr SystemClass::getBootSlot(uint8_t* slot) {
    return getUEI8(OPTION_BOOT_SLOT, slot);
}

aErr SystemClass::setBootSlot(uint8_t slot) {
    return setUEI8(OPTION_BOOT_SLOT, slot);
}

aErr SystemClass::getVersion(uint32_t* version) {
    return getUEI32(OPTION_VERSION, version);
}

aErr SystemClass::getModel(uint8_t* model) {
    return getUEI8(OPTION_MODEL, model);
}

aErr SystemClass::getSerialNumber(uint32_t* serialNumber) {
    return getUEI32(OPTION_SERIAL_NUMBER, serialNumber);
}

aErr SystemClass::save() {
    return callUEI(OPTION_SAVE);
}

aErr SystemClass::reset() {
    return callUEI(OPTION_RESET);
}

aErr SystemClass::getInputVoltage(uint32_t* voltage) {
    return getUEI32(OPTION_INPUT_VOLTAGE, voltage);
}

aErr SystemClass::getModuleHardwareOffset(uint8_t* offset) {
    return getUEI8(OPTION_MODULE_HARDWARE_OFFSET, offset);
}

aErr SystemClass::getModuleBaseAddress(uint8_t* address) {
    return getUEI8(OPTION_MODULE_BASE_ADDRESS, address);
}

aErr SystemClass::getModuleSoftwareOffset(uint8_t* offset) {
    return getUEI8(OPTION_MODULE_SOFTWARE_OFFSET, offset);
}

aErr SystemClass::setModuleSoftwareOffset(uint8_t offset) {
    return setUEI8(OPTION_MODULE_SOFTWARE_OFFSET, offset);
}

aErr SystemClass::getRouterAddressSetting(uint8_t* address) {
    return getUEI8(OPTION_ROUTER_ADDRESS_SETTING, address);
}

aErr SystemClass::routeToMe(uint8_t enable) {
    return setUEI8(OPTION_ROUTE_TO_ME, enable);
}

aErr SystemClass::getInputCurrent(uint32_t* current) {
    return getUEI32(OPTION_INPUT_CURRENT, current);
}

aErr SystemClass::getUptime(uint32_t* uptime) {
    return getUEI32(OPTION_UPTIME, uptime);
}

aErr SystemClass::getMaximumTemperature(int32_t* temperature) {
    return _get_signed(*this, OPTION_MAXIMUM_TEMPERATURE, temperature);
}

aErr SystemClass::logEvents() {
    return callUEI(OPTION_LOG_EVENTS);
}

aErr SystemClass::getUnregulatedVoltage(int32_t* voltage) {
    return _get_signed(*this, OPTION_UNREGULATED_VOLTAGE, voltage);
}

aErr SystemClass::getUnregulatedCurrent(int32_t* current) {
    return _get_signed(*this, OPTION_UNREGULATED_CURRENT, current);
}

aErr SystemClass::getTemperature(int32_t* temperature) {
    return _get_signed(*this, OPTION_TEMPERATURE, temperature);
}

aErr SystemClass::getMinimumTemperature(int32_t* temperature) {
    return _get_signed(*this, OPTION_MINIMUM_TEMPERATURE, temperature);
}

aErr SystemClass::getInputPowerSource(uint8_t* source) {
    return getUEI8(OPTION_INPUT_POWER_SOURCE, source);
}

aErr SystemClass::getInputPowerBehavior(uint8_t* behavior) {
    return getUEI8(OPTION_INPUT_POWER_BEHAVIOR, behavior);
}

aErr SystemClass::setInputPowerBehavior(uint8_t behavior) {
    return setUEI8(OPTION_INPUT_POWER_BEHAVIOR, behavior);
}

aErr SystemClass::setInputPowerBehaviorConfig(const uint32_t* words, size_t count) {
    return setUEIBytes(OPTION_INPUT_POWER_BEHAVIOR_CONFIG, reinterpret_cast<const uint8_t*>(words),
                       count * sizeof(uint32_t));
}

aErr SystemClass::getInputPowerBehaviorConfig(uint32_t* words, size_t capacity, size_t* count) {
    aErr result = getUEIBytes(OPTION_INPUT_POWER_BEHAVIOR_CONFIG, reinterpret_cast<uint8_t*>(words),
                              capacity * sizeof(uint32_t), count);
    // A byte count that is not a whole number of words is no configuration.
    if (result == aErrNone && getUEIBytesCheck(count, sizeof(uint32_t)) != aErrNone) {
        return aErrSize;
    }
    return result;
}

aErr SystemClass::setName(const uint8_t* bytes, size_t length) {
    return setUEIBytes(OPTION_NAME, bytes, length);
}

aErr SystemClass::getName(uint8_t* bytes, size_t capacity, size_t* length) {
    return getUEIBytes(OPTION_NAME, bytes, capacity, length);
}

aErr SystemClass::getPowerLimit(uint32_t* limit) {
    return getUEI32(OPTION_POWER_LIMIT, limit);
}

aErr SystemClass::getPowerLimitMax(uint32_t* limit) {
    return getUEI32(OPTION_POWER_LIMIT_MAX, limit);
}

aErr SystemClass::setPowerLimitMax(uint32_t limit) {
    return setUEI32(OPTION_POWER_LIMIT_MAX, limit);
}

aErr SystemClass::getPowerLimitState(uint32_t* state) {
    return getUEI32(OPTION_POWER_LIMIT_STATE, state);
}

aErr SystemClass::resetEntityToFactoryDefaults() {
    return callUEI(OPTION_RESET_ENTITY_TO_FACTORY_DEFAULTS);
}

aErr SystemClass::resetDeviceToFactoryDefaults() {
    return callUEI(OPTION_RESET_DEVICE_TO_FACTORY_DEFAULTS);
}

aErr SystemClass::getLinkInterface(uint8_t* linkInterface) {
    return getUEI8(OPTION_LINK_INTERFACE, linkInterface);
}

aErr SystemClass::setLinkInterface(uint8_t linkInterface) {
    return setUEI8(OPTION_LINK_INTERFACE, linkInterface);
}

aErr SystemClass::getHardwareVersion(uint32_t* version) {
    return getUEI32(OPTION_HARDWARE_VERSION, version);
}

aErr SystemClass::getErrors(uint32_t* errors) {
    return getUEI32(OPTION_ERRORS, errors);
}

aErr SystemClass::getLEDMaxBrightness(uint8_t* brightness) {
    return getUEI8(OPTION_LED_MAX_BRIGHTNESS, brightness);
}

aErr SystemClass::setLEDMaxBrightness(uint8_t brightness) {
    return setUEI8(OPTION_LED_MAX_BRIGHTNESS, brightness);
}

aErr SystemClass::getBuild(uint32_t* build) {
    return getUEI32(OPTION_BUILD, build);
}

aErr SystemClass::getProtocolFeatures(uint32_t* features) {
    return getUEI32(OPTION_PROTOCOL_FEATURES, features);
}

} // namespace Quorvanta
} // namespace Korvalen
