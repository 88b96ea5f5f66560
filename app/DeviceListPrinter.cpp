#include "ResultPrinters.h"
#include "aDefs.h"

#include <cstdio>
#include <cstring>

namespace {

const char* const USB_HEADER =
    "    Device    Module   Router  Model          Firmware Version (Build)    Device Name";
// Any table but a USB one may hold network devices, so it has the address column.
const char* const NETWORK_HEADER =
    "    Device    Module   Router  Model          Firmware Version (Build)   [IP address]       Device Name";

const char* _link_type_name(linkType type) {
    switch (type) {
    case USB:
        return "USB";
    case TCPIP:
        return "TCPIP";
    default:
        return "Unknown";
    }
}

// The address in its dotted form; the bytes of ipAddress are in network order in memory.
void _format_address(const DeviceInfo& device, char (&text)[20]) {
    uint8_t bytes[sizeof(device.ip.ipAddress)];
    std::memcpy(bytes, &device.ip.ipAddress, sizeof(bytes));
    std::snprintf(text, sizeof(text), "[%d.%d.%d.%d]", bytes[0], bytes[1], bytes[2], bytes[3]);
}

void _display_device(UpdaterDisplayInterface& display, const DeviceInfo& device) {
    const char* model = aDefs_GetModelName(device.model);
    int patch = static_cast<int>(device.versionPatch);
    if (device.type == TCPIP) {
        // A network device shows what could be read of it, whatever failed.
        char address[20];
        _format_address(device, address);
        display.message(UpdaterDisplayInterface::INFO,
                        "    %08X  %02X       %02X      %-12s %3d.%d.%d (%10u)        %-17s  %s",
                        device.serialNumber, device.moduleAddress, device.routerAddress, model,
                        device.versionMajor, device.versionMinor, patch, device.buildNumber, address,
                        device.deviceName.c_str());
    } else if (device.error != 0) {
        display.message(UpdaterDisplayInterface::INFO,
                        "    %08X  [Error (%d): Is someone else connected to this device?]",
                        device.serialNumber, static_cast<int>(device.error));
    } else {
        display.message(
            UpdaterDisplayInterface::INFO, "    %08X  %02X       %02X      %-12s %3d.%d.%d (%10u)         %s",
            device.serialNumber, device.moduleAddress, device.routerAddress, model, device.versionMajor,
            device.versionMinor, patch, device.buildNumber, device.deviceName.c_str());
    }
}

} // namespace

void _display_device_list(UpdaterDisplayInterface& display, const std::vector<DeviceInfo>& devices,
                          linkType type) {
    display.message(UpdaterDisplayInterface::INFO, "Discovered Devices: (%s)", _link_type_name(type));
    if (devices.empty()) {
        display.message(UpdaterDisplayInterface::INFO, "    No devices found.");
        return;
    }
    display.message(UpdaterDisplayInterface::INFO, "%s", type == USB ? USB_HEADER : NETWORK_HEADER);
    for (const DeviceInfo& device : devices)
        _display_device(display, device);
}
