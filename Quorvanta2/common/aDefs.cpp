#include "aDefs.h"

namespace {

constexpr const char* UNKNOWN_MODEL = "Unknown";

struct Model {
    uint32_t number;
    const char* name;
};

constexpr Model MODELS[] = {
    {4, "USBHub2x4"},    {5, "USBHub3p"},      {13, "USBSwitch"}, {14, "USBHub3c"},    {15, "USBCSwitch"},
    {16, "EtherRouter"}, {17, "I2CRouter"},    {18, "IOModule"},  {19, "RelayModule"}, {20, "PowerModule"},
    {21, "ServoModule"}, {22, "SensorModule"}, {23, "DigitalIO"}, {24, "AnalogIO"},    {25, "PDModule"},
    {26, "USBExtender"}, {27, "USBHub4p"},
};

} // namespace

const char* aDefs_GetModelName(uint32_t model) {
    for (const Model& entry : MODELS)
        if (entry.number == model)
            return entry.name;
    return UNKNOWN_MODEL;
}
