#include "discover.h"
#include "unix_discovery.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct ReplyCase {
    const char* name;
    std::vector<uint8_t> reply;
    const char* sender;
    uint32_t module, port, serialNumber, model;
};

} // namespace

TEST(TCPIPReply, DecodesEveryField) {
    std::vector<uint8_t> example(16, 0);
    example[1] = 4;
    example[2] = 0x1F, example[3] = 0x90;
    example[4] = 0x9A, example[5] = 0x84, example[6] = 0xF5, example[7] = 0x40;
    example[12] = 17;
    // Bytes 0, 8-11 and 13-15 carry nothing a host uses.
    std::vector<uint8_t> unused(16, 0xEE);
    unused[1] = 0xFE, unused[2] = 0xFF, unused[3] = 0xFF;
    unused[4] = 0xFF, unused[5] = 0xFF, unused[6] = 0xFF, unused[7] = 0xFF;
    unused[12] = 0;
    const ReplyCase cases[] = {
        {"example", example, "10.0.0.5", 4, 36895, 0x40F5849A, 17},
        {"extremes", unused, "198.18.0.1", 254, 65535, 0xFFFFFFFF, 0},
    };
    for (const ReplyCase& c : cases) {
        SCOPED_TRACE(c.name);
        linkSpec spec;
        std::memset(&spec, 0xAA, sizeof(spec));
        ASSERT_TRUE(aDiscoveryTCPIP_DecodeReply(c.reply.data(), c.reply.size(), inet_addr(c.sender), &spec));
        EXPECT_EQ(spec.type, TCPIP);
        EXPECT_EQ(spec.moduleAddress, c.module);
        EXPECT_EQ(spec.routerAddress, c.module);
        EXPECT_EQ(spec.serialNumber, c.serialNumber);
        EXPECT_EQ(spec.routerSerialNumber, c.serialNumber);
        EXPECT_EQ(spec.model, c.model);
        EXPECT_EQ(spec.ip.ipPort, c.port);
        EXPECT_EQ(spec.ip.ipAddress, inet_addr(c.sender));
        const unsigned char* rest = reinterpret_cast<const unsigned char*>(&spec) + 32;
        EXPECT_EQ(std::vector<unsigned char>(rest, rest + 96), std::vector<unsigned char>(96, 0));
    }
}

TEST(TCPIPReply, WrongSizesAreNoReply) {
    std::vector<uint8_t> bytes(17, 1);
    for (size_t length : {0u, 15u, 17u}) {
        linkSpec spec;
        std::memset(&spec, 0xAA, sizeof(spec));
        EXPECT_FALSE(aDiscoveryTCPIP_DecodeReply(bytes.data(), length, inet_addr("10.0.0.5"), &spec))
            << length;
        EXPECT_EQ(spec.serialNumber, 0xAAAAAAAAu) << length;
    }
}

TEST(DiscoveryAddressText, ConvertsOnlyIntoRoomForAnyAddress) {
    char text[32];
    std::memset(text, 'x', sizeof(text));
    EXPECT_EQ(aDiscovery_ConvertIPv4Interface(inet_addr("10.0.0.5"), text, 15), 0);
    EXPECT_EQ(std::string(text, 15), std::string(15, '\0'));
    EXPECT_EQ(text[15], 'x');

    EXPECT_EQ(aDiscovery_ConvertIPv4Interface(inet_addr("255.255.255.255"), text, 16), 15);
    EXPECT_STREQ(text, "255.255.255.255");
    std::memset(text, 'x', sizeof(text));
    EXPECT_EQ(aDiscovery_ConvertIPv4Interface(inet_addr("10.0.0.5"), text, sizeof(text)), 8);
    EXPECT_EQ(std::string(text, sizeof(text)), std::string("10.0.0.5") + std::string(24, '\0'));
    EXPECT_EQ(aDiscovery_ConvertIPv4Interface(inet_addr("10.0.0.5"), nullptr, 16), 0);
}
