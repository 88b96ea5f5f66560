#include "I2CClass.h"
#include "ServedDevice.h"
#include "SimRouter.h"
#include "SystemClass.h"

#include <cstring>

using namespace Korvalen::Quorvanta;

namespace {

constexpr uint32_t CHILD_SERIAL = 0xC0FFEE10;

// A router on loopback TCP with two modules behind it, at bus addresses 10 and 12, and a host
// module connected to the router.
struct Router : ConnectedModule {
    Router() : router(qvsim::SimRouter::Install(served.device, served.entities)) {
        router->AddChild(qvsim::SimIdentity{.moduleAddress = 10, .serialNumber = CHILD_SERIAL, .model = 17});
        router->AddChild(qvsim::SimIdentity{.moduleAddress = 12, .serialNumber = CHILD_SERIAL + 2});
    }

    void SetUp() override {
        ConnectedModule::SetUp();
        system.init(&module, 0);
        bus.init(&module, 0);
    }

    std::shared_ptr<qvsim::SimRouter> router;
    SystemClass system;
    I2CClass bus;
};

} // namespace

TEST_F(Router, BusWritesAreAcknowledgedOnlyWhereAModuleSits) {
    EXPECT_EQ(bus.setSpeed(3), aErrNone);
    const uint8_t probe[2] = {0, 0};
    std::vector<uint8_t> answering;
    for (unsigned address = 4; address <= 252; address += 2) {
        aErr result = bus.write(static_cast<uint8_t>(address), 2, probe);
        if (result == aErrNone) {
            answering.push_back(static_cast<uint8_t>(address));
        } else {
            EXPECT_EQ(result, aErrNotFound) << address;
        }
    }
    EXPECT_EQ(answering, (std::vector<uint8_t>{10, 12}));
    EXPECT_EQ(router->Bus().Speed(), 3);
}

TEST_F(Router, ModulesBehindItAnswerThroughTheRoutersConnection) {
    Module child(10, false, 0);
    SystemClass childSystem;
    childSystem.init(&child, 0);
    ASSERT_EQ(child.connectThroughLinkModule(&module), aErrNone);
    EXPECT_EQ(child.getModuleAddress(), 10);
    linkSpec routerSpec{};
    linkSpec childSpec{};
    ASSERT_EQ(module.getLinkSpecifier(&routerSpec), aErrNone);
    ASSERT_EQ(child.getLinkSpecifier(&childSpec), aErrNone);
    EXPECT_EQ(std::memcmp(&routerSpec, &childSpec, sizeof routerSpec), 0);

    uint32_t serial = 0;
    ASSERT_EQ(system.routeToMe(0), aErrNone);
    EXPECT_EQ(childSystem.getSerialNumber(&serial), aErrTimeout) << "not routed to the host";
    ASSERT_EQ(system.routeToMe(1), aErrNone);
    ASSERT_EQ(childSystem.getSerialNumber(&serial), aErrNone);
    EXPECT_EQ(serial, CHILD_SERIAL);
    uint8_t byte = 0;
    EXPECT_EQ(childSystem.getRouter(&byte), aErrNone);
    EXPECT_EQ(byte, 2);
    EXPECT_EQ(childSystem.getModel(&byte), aErrNone);
    EXPECT_EQ(byte, 17);
    EXPECT_EQ(child.reconnect(), aErrConnection) << "already holds the connection";

    // Connected already: nothing changes, not even after the router's address changed.
    module.setModuleAddress(4);
    EXPECT_EQ(child.connectThroughLinkModule(&module), aErrNone);
    module.setModuleAddress(2);

    EXPECT_EQ(child.disconnect(), aErrNone);
    EXPECT_TRUE(module.isConnected()) << "the router keeps its connection";
    ASSERT_EQ(system.routeToMe(0), aErrNone);
    ASSERT_EQ(child.connectThroughLinkModule(&module), aErrNone);
    EXPECT_EQ(childSystem.getSerialNumber(&serial), aErrTimeout) << "routing switched off again";
}

TEST_F(Router, ConnectingThroughARouterNeedsAConnectedRouterWithoutSharing) {
    Module child(10, false, 0);
    Module stranger(2, uint8_t{0});
    EXPECT_EQ(child.connectThroughLinkModule(nullptr), aErrParam);
    EXPECT_EQ(child.connectThroughLinkModule(&stranger), aErrNotFound) << "the stranger names no device";
    stranger.setConfig(DirectConfig());
    ASSERT_EQ(stranger.connectFromSpec(served.Spec()), aErrNone);
    ASSERT_EQ(stranger.disconnect(), aErrNone);
    EXPECT_EQ(child.connectThroughLinkModule(&stranger), aErrInitialization)
        << "the stranger is not connected";

    // A router that shares its device makes the child an aEther client, which this build cannot be.
    Module sharing(2, uint8_t{0});
    ASSERT_EQ(sharing.connectFromSpec(served.Spec()), aErrNone);
    EXPECT_EQ(child.connectThroughLinkModule(&sharing), aErrUnimplemented);
    EXPECT_FALSE(child.isConnected());
    EXPECT_TRUE(sharing.isConnected());
}

TEST_F(Router, BusReadsWritesAndPullup) {
    const uint8_t bytes[3] = {7, 8, 9};
    uint8_t buffer[4] = {0, 0, 0, 0xEE};
    ASSERT_EQ(bus.write(10, 3, bytes), aErrNone);
    ASSERT_EQ(bus.read(10, 3, buffer), aErrNone);
    EXPECT_EQ(Bytes(buffer, buffer + 4), (Bytes{7, 8, 9, 0xEE}));
    EXPECT_EQ(bus.read(20, 3, buffer), aErrNotFound);
    EXPECT_EQ(bus.setPullup(true), aErrNone);
    EXPECT_TRUE(router->Bus().Pullup());

    EXPECT_EQ(bus.read(10, 24, buffer), aErrSize);
    EXPECT_EQ(bus.write(10, 24, Bytes(24, 0).data()), aErrSize);
    EXPECT_EQ(bus.setSpeed(4), aErrParam);
    uint8_t speed = 9;
    EXPECT_EQ(bus.getSpeed(&speed), aErrNone);
    EXPECT_EQ(speed, 0);

    I2CClass other;
    other.init(&module, 1);
    EXPECT_EQ(other.write(10, 3, bytes), aErrIndexRange);
}

TEST_F(Router, BusRepliesOfTheWrongShape) {
    const struct {
        const char* what;
        Bytes reply;
        aErr expected;
    } cases[] = {
        {"error status", {8, 0, 0xA1, 0, 0x85}, aErrBusy},
        {"no status", {8, 0, 0xA1, 0}, aErrPacket},
        {"more bytes than asked for", {8, 0, 0xA1, 4, 0, 1, 2, 3, 4}, aErrPacket},
        {"fewer bytes than counted", {8, 0, 0xA1, 3, 0, 1}, aErrPacket},
        {"another address", {8, 0, 0xA3, 3, 0, 1, 2, 3}, aErrTimeout},
    };
    for (const auto& c : cases) {
        served.device.RegisterCommand(
            8, [c](const qvsim::SimPacket&, qvsim::SimReplies& out) { out.Add(c.reply); });
        uint8_t buffer[3] = {0x55, 0x55, 0x55};
        EXPECT_EQ(bus.read(0xA0, 3, buffer), c.expected) << c.what;
        EXPECT_EQ(Bytes(buffer, buffer + 3), Bytes(3, 0x55)) << c.what << ": the buffer is not touched";
    }
}
