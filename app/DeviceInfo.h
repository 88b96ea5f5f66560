#ifndef UPDATER_DEVICEINFO_H
#define UPDATER_DEVICEINFO_H

#include "discover.h"

#include <cstdint>
#include <cstring>
#include <string>

// One discovered device: how it is reached (the 128 specifier bytes come first, so a specifier is
// copied in by assigning the base), then what reading it gave. moduleAddress and routerAddress are
// overwritten with what the device itself reports.
struct DeviceInfo : linkSpec {
    DeviceInfo() { std::memset(static_cast<linkSpec*>(this), 0, sizeof(linkSpec)); }
    explicit DeviceInfo(const linkSpec& spec) : linkSpec(spec) {}

    // The bus address at which a module behind a router answered; 0 for devices found directly.
    uint16_t i2cAddress = 0;
    // 0 when unknown.
    uint32_t buildNumber = 0;
    uint8_t versionMajor = 0;
    uint8_t versionMinor = 0;
    uint32_t versionPatch = 0;
    std::string modelName;
    // The user-given name, empty when it was not read.
    std::string deviceName;
    // aErr of the last failed step of reading the device, 0 when all went well.
    uint32_t error = 0;
};

#endif
