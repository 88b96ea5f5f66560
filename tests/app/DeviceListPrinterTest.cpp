#include "RecordingDisplay.h"
#include "ResultPrinters.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <string>
#include <vector>

namespace {

const std::string USB_HEADER =
    "    Device    Module   Router  Model          Firmware Version (Build)    Device Name";
const std::string NETWORK_HEADER =
    "    Device    Module   Router  Model          Firmware Version (Build)   [IP address]       Device Name";

DeviceInfo _device(linkType type, uint32_t serial, uint32_t model, uint32_t error) {
    DeviceInfo device;
    device.type = type;
    device.serialNumber = serial;
    device.moduleAddress = 6;
    device.routerAddress = 0x1E;
    device.model = model;
    device.versionMajor = 2;
    device.versionMinor = 10;
    device.versionPatch = 100000;
    device.buildNumber = 99511694;
    device.deviceName = "bench hub";
    device.error = error;
    if (type == TCPIP)
        device.ip.ipAddress = inet_addr("10.0.0.5");
    return device;
}

TEST(DeviceListPrinterTest, NewRecordIsEmpty) {
    DeviceInfo device;
    const auto* bytes = reinterpret_cast<const unsigned char*>(static_cast<const linkSpec*>(&device));
    EXPECT_EQ(std::vector<unsigned char>(bytes, bytes + sizeof(linkSpec)),
              std::vector<unsigned char>(128, 0));
    EXPECT_EQ(device.i2cAddress + device.buildNumber + device.versionMajor + device.versionMinor +
                  device.versionPatch + device.error,
              0u);
    EXPECT_TRUE(device.modelName.empty());
    EXPECT_TRUE(device.deviceName.empty());
}

TEST(DeviceListPrinterTest, RowsFollowEachDevicesOwnLinkType) {
    struct Case {
        const char* name;
        linkType table;
        std::vector<DeviceInfo> devices;
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases = {
        {"USB table: a good device, then one that could not be read",
         USB,
         {_device(USB, 0x1A2B3C4D, 4, 0), _device(USB, 0x0000ABCD, 4, 5)},
         {"Discovered Devices: (USB)", USB_HEADER,
          "    1A2B3C4D  06       1E      USBHub2x4      2.10.100000 (  99511694)         bench hub",
          "    0000ABCD  [Error (5): Is someone else connected to this device?]"}},
        {"TCP/IP table: the full row with the address, whatever the error",
         TCPIP,
         {_device(TCPIP, 0x40F5849A, 17, 0), _device(TCPIP, 0x0BADCAFE, 99, 18)},
         {"Discovered Devices: (TCPIP)", NETWORK_HEADER,
          "    40F5849A  06       1E      I2CRouter      2.10.100000 (  99511694)        [10.0.0.5]         "
          "bench hub",
          "    0BADCAFE  06       1E      Unknown        2.10.100000 (  99511694)        [10.0.0.5]         "
          "bench hub"}},
        {"a table of unknown type has the address column; a USB row in it has none",
         INVALID,
         {_device(USB, 0x1A2B3C4D, 13, 0)},
         {"Discovered Devices: (Unknown)", NETWORK_HEADER,
          "    1A2B3C4D  06       1E      USBSwitch      2.10.100000 (  99511694)         bench hub"}},
        {"no devices", TCPIP, {}, {"Discovered Devices: (TCPIP)", "    No devices found."}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingDisplay display;
        _display_device_list(display, c.devices, c.table);
        EXPECT_EQ(display.infos, c.expected);
        EXPECT_TRUE(display.errors.empty());
    }
}

TEST(DeviceListPrinterTest, LongestAddressAndNumbersKeepTheirColumns) {
    DeviceInfo device = _device(TCPIP, 0xFFFFFFFF, 0, 0);
    device.ip.ipAddress = inet_addr("255.255.255.255");
    device.moduleAddress = 0xFE;
    device.versionMajor = 255;
    device.versionPatch = 7;
    device.buildNumber = 4294967295u;
    device.deviceName.clear();
    RecordingDisplay display;
    _display_device_list(display, {device}, TCPIP);
    ASSERT_EQ(display.infos.size(), 3u);
    EXPECT_EQ(display.infos[2], "    FFFFFFFF  FE       1E      Unknown      255.10.7 (4294967295)        "
                                "[255.255.255.255]  ");
}

} // namespace
