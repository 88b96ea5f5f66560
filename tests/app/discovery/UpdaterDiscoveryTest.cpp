#include "NetworkDevice.h"
#include "RecordingDisplay.h"
#include "Updater.h"
#include "aVersion.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

namespace {

using qvtest::DeviceSetup;
using qvtest::NetworkDevice;

const uint32_t V2_10_4 = aVersion_Pack(2, 10, 4);

std::map<uint32_t, DeviceInfo> _by_serial(const std::vector<DeviceInfo>& devices) {
    std::map<uint32_t, DeviceInfo> bySerial;
    for (const DeviceInfo& device : devices)
        bySerial.emplace(device.serialNumber, device);
    return bySerial;
}

struct UpdaterDiscovery : testing::Test {
    RecordingDisplay display;
    Updater updater{"http://127.0.0.1:9/cgi/u", "/nonexistent", display};
};

// Both transports are searched when none is named; each record says which step failed.
TEST_F(UpdaterDiscovery, RecordsWhatEachDeviceGaveAndTheStepThatFailed) {
    NetworkDevice readable({0x1A2B3C4D, 6, 13, V2_10_4, 99511694, "bench switch"});
    NetworkDevice silent({0x5EEDF00D, 8, 20, V2_10_4, 4242, "quiet"});
    silent.device.Faults().DropRepliesTo(qvsim::SimSystemEntity::COMMAND);
    NetworkDevice refusing({0x0DEAD000, 10, 4, V2_10_4, 99, "closed"}, NetworkDevice::REFUSING);

    std::map<uint32_t, DeviceInfo> found = _by_serial(updater.Discover_Devices(INVALID));
    ASSERT_EQ(found.size(), 3u);
    EXPECT_TRUE(display.errors.empty());

    const DeviceInfo& good = found.at(0x1A2B3C4D);
    EXPECT_EQ(good.type, TCPIP);
    EXPECT_EQ(good.ip.ipAddress, qvtest::NetnsAddress());
    EXPECT_EQ(good.ip.ipPort, readable.server.Port());
    EXPECT_EQ(good.error, aErrNone);
    EXPECT_EQ(good.moduleAddress, 6u);
    EXPECT_EQ(good.i2cAddress, 0u);
    EXPECT_EQ(good.buildNumber, 99511694u);
    EXPECT_EQ(std::vector<uint32_t>({good.versionMajor, good.versionMinor, good.versionPatch}),
              std::vector<uint32_t>({2, 10, 4}));
    EXPECT_EQ(good.modelName, "USBSwitch");
    EXPECT_EQ(good.deviceName, "bench switch");

    const DeviceInfo& unanswered = found.at(0x5EEDF00D);
    EXPECT_EQ(unanswered.error, aErrTimeout);
    EXPECT_EQ(unanswered.buildNumber, 4242u);
    EXPECT_EQ(unanswered.versionMajor, 0u);
    EXPECT_EQ(unanswered.modelName, "PowerModule");

    const DeviceInfo& refused = found.at(0x0DEAD000);
    EXPECT_EQ(refused.error, aErrConnection);
    EXPECT_EQ(refused.buildNumber, 0u);
    EXPECT_EQ(refused.modelName, "USBHub2x4");
}

// A module behind the router that does not tell its model is still listed, with the error.
TEST_F(UpdaterDiscovery, NetworkScanRecordsModulesThroughTheRoutersTransport) {
    NetworkDevice router({0xD272031D, 2, 17, V2_10_4, 5000, "router"});
    const DeviceSetup modelless{0x3C3C3C3C, 0xFC, 20, aVersion_Pack(2, 9, 0), 78, ""};
    std::vector<qvsim::SimRouter::Child> children =
        router.AddChildren({{0x2181F0EE, 4, 18, V2_10_4, 77, "named"}, modelless});
    // The second child answers its system entity as before, except for the model.
    auto answering = std::make_shared<qvsim::SimModule>(NetworkDevice::Identity(modelless));
    qvsim::SimSystemEntity::Install(*answering, children[1].entities.system->Settings());
    const uint8_t getModel = 0x40 | 8;
    children[1].module->RegisterCommand(
        qvsim::SimSystemEntity::COMMAND,
        [answering, getModel](const qvsim::SimPacket& request, qvsim::SimReplies& replies) {
            if (request.data[1] != getModel)
                answering->Dispatch(request, replies);
        });

    std::vector<DeviceInfo> devices = updater.Discover_QVNetwork_Devices(0xD272031D, TCPIP);
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_TRUE(display.errors.empty());
    EXPECT_FALSE(router.router->Routing());
    for (const DeviceInfo& device : devices) {
        EXPECT_EQ(device.type, TCPIP);
        EXPECT_EQ(device.ip.ipAddress, qvtest::NetnsAddress());
        EXPECT_EQ(device.ip.ipPort, router.server.Port());
        EXPECT_EQ(device.routerSerialNumber, 0xD272031Du);
        EXPECT_EQ(device.routerAddress, 2u);
        EXPECT_EQ(device.deviceName, "") << "names are not read behind a router";
    }
    // What each module reported, in bus order: serial number, bus and module address, build, minor
    // version, model and its name, error.
    using Read = std::tuple<uint32_t, uint16_t, uint32_t, uint32_t, uint8_t, uint32_t, std::string, uint32_t>;
    std::vector<Read> read;
    for (const DeviceInfo& d : devices)
        read.emplace_back(d.serialNumber, d.i2cAddress, d.moduleAddress, d.buildNumber, d.versionMinor,
                          d.model, d.modelName, d.error);
    EXPECT_EQ(read, (std::vector<Read>{{0x2181F0EE, 4, 4, 77, 10, 18, "IOModule", aErrNone},
                                       {0x3C3C3C3C, 0xFC, 0xFC, 78, 9, 0, "", aErrTimeout}}));
}

} // namespace
