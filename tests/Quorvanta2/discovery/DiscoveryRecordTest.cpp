#include "discover.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>

// Sharing servers send these bytes as they are, so every offset is part of the wire format.
TEST(LinkSpec, LayoutIsTheWireFormat) {
    EXPECT_EQ(sizeof(linkType), 4u);
    EXPECT_EQ(offsetof(linkSpec, type), 0u);
    EXPECT_EQ(offsetof(linkSpec, serialNumber), 4u);
    EXPECT_EQ(offsetof(linkSpec, moduleAddress), 8u);
    EXPECT_EQ(offsetof(linkSpec, routerAddress), 12u);
    EXPECT_EQ(offsetof(linkSpec, routerSerialNumber), 16u);
    EXPECT_EQ(offsetof(linkSpec, model), 20u);
    EXPECT_EQ(offsetof(linkSpec, usb.usbId), 24u);
    EXPECT_EQ(offsetof(linkSpec, ip.ipAddress), 24u);
    EXPECT_EQ(offsetof(linkSpec, ip.ipPort), 28u);
    EXPECT_EQ(offsetof(linkSpec, serial.baudRate), 24u);
    EXPECT_EQ(offsetof(linkSpec, serial.portName), 28u);
    EXPECT_EQ(sizeof(linkSpec::serial.portName), 100u);
}

TEST(LinkSpec, CreateCopyDestroy) {
    linkSpec* spec = aLinkSpec_Create(SERIAL);
    ASSERT_NE(spec, nullptr);
    EXPECT_EQ(spec->type, SERIAL);
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(spec);
    for (size_t i = sizeof(linkType); i < sizeof(linkSpec); ++i) {
        ASSERT_EQ(bytes[i], 0) << "byte " << i;
    }

    spec->serialNumber = 0x1A2B3C4D;
    spec->serial.baudRate = 115200;
    std::strcpy(spec->serial.portName, "/dev/ttyUSB0");
    spec->serial.portName[99] = 'x';
    linkSpec* copy = aLinkSpec_Copy(spec);
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy, spec);
    EXPECT_EQ(std::memcmp(copy, spec, sizeof(linkSpec)), 0);
    EXPECT_EQ(aLinkSpec_Copy(nullptr), nullptr);

    EXPECT_EQ(aLinkSpec_Destroy(&spec), aErrNone);
    EXPECT_EQ(spec, nullptr);
    EXPECT_EQ(aLinkSpec_Destroy(&spec), aErrParam);
    EXPECT_EQ(aLinkSpec_Destroy(nullptr), aErrParam);
    EXPECT_EQ(aLinkSpec_Destroy(&copy), aErrNone);
}

TEST(LinkSpec, TransportsThatCannotBeSearchedFindNothing) {
    auto never = [](const linkSpec*, bool* take, void*) -> uint8_t {
        *take = true;
        return 1;
    };
    for (linkType type : {INVALID, SERIAL, static_cast<linkType>(99)}) {
        EXPECT_EQ(aDiscovery_EnumerateModules(type, never, nullptr, 0), 0) << type;
        EXPECT_EQ(aDiscovery_FindModule(type, 0x1A2B3C4D, 0), nullptr) << type;
        EXPECT_EQ(aDiscovery_FindFirstModule(type, 0), nullptr) << type;
    }
}
