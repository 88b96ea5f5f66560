#include "Module.h"
#include "NetworkDevice.h"
#include "aDebugging.h"

#include <gtest/gtest.h>

using namespace Korvalen::Quorvanta;
using qvtest::NetworkDevice;

namespace {

// Two devices on the namespace's network, of models 13 and 17.
struct TwoDevices : ::testing::Test {
    TwoDevices() : first({0x1000000D, 4, 13, 0, 0, ""}), second({0x10000011, 6, 17, 0, 0, ""}) {}

    // A module with sharing off, as the application makes them.
    static void Direct(Module& module) {
        aEtherConfig config;
        config.sharingEnabled = false;
        config.allowFallback = false;
        ASSERT_EQ(module.setConfig(config), aErrNone);
    }

    NetworkDevice first;
    NetworkDevice second;
};

} // namespace

TEST_F(TwoDevices, FindsTheDeviceBySerialNumber) {
    Module module(2, uint8_t{0});
    Direct(module);
    ASSERT_EQ(module.connect(TCPIP, 0x10000011), aErrNone);
    EXPECT_EQ(module.getModuleAddress(), 6) << "auto-networking after the connect";
    linkSpec spec{};
    ASSERT_EQ(module.getLinkSpecifier(&spec), aErrNone);
    EXPECT_EQ(spec.serialNumber, 0x10000011u);
    EXPECT_EQ(spec.ip.ipPort, second.server.Port());
    EXPECT_TRUE(module.isConnected());

    Module nobody(2, uint8_t{0});
    Direct(nobody);
    EXPECT_EQ(nobody.connect(TCPIP, 0x12345678), aErrNotFound);
}

TEST_F(TwoDevices, WithoutASerialNumberTakesTheFirstOfTheModel) {
    Module module(2, uint8_t{17});
    Direct(module);
    ASSERT_EQ(module.discoverAndConnect(TCPIP, 0), aErrNone);
    EXPECT_EQ(module.getModuleAddress(), 6);

    Module any(2, uint8_t{0});
    Direct(any);
    ASSERT_EQ(any.discoverAndConnect(TCPIP, 0), aErrNone);
    linkSpec spec{};
    ASSERT_EQ(any.getLinkSpecifier(&spec), aErrNone);
    EXPECT_TRUE(spec.serialNumber == 0x1000000D || spec.serialNumber == 0x10000011);

    Module none(2, uint8_t{21});
    Direct(none);
    EXPECT_EQ(none.discoverAndConnect(TCPIP, 0), aErrNotFound);
}

TEST(LinkDiscovery, FallsBackBetweenUSBAndAEtherOnlyWhenAllowed) {
    const struct {
        linkType type;
        bool allowFallback;
        const char* line;
    } cases[] = {
        {USB, true, "Executing Fallback: aEther\n"},
        {AETHER, true, "Executing Fallback: USB\n"},
        {USB, false, ""},
        {TCPIP, true, ""},
    };
    aQuorvantaDebuggingLevel = aDEBUG_LINK;
    aQuorvantaDebuggingEnable = true;
    for (const auto& c : cases) {
        Link link("test");
        aEtherConfig config;
        config.allowFallback = c.allowFallback;
        ASSERT_EQ(link.setConfig(config), aErrNone);
        ::testing::internal::CaptureStdout();
        aErr result = link.discoverAndConnect(c.type, 0x0BADF00D, 0);
        std::string printed = ::testing::internal::GetCapturedStdout();
        EXPECT_EQ(result, aErrNotFound) << c.type;
        EXPECT_EQ(printed, c.line) << c.type;
    }
    aQuorvantaDebuggingEnable = false;
}
