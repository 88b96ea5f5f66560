#include "Link.h"
#include "ServedDevice.h"
#include "aLink.h"

#include <algorithm>
#include <fstream>
#include <functional>
#include <sstream>
#include <unistd.h>

using namespace Korvalen::Quorvanta;

namespace {

// A link of its own to a served device, sharing switched off.
struct DirectLink : ::testing::Test {
    DirectLink() : link("test") { link.setConfig(DirectConfig()); }

    aErr Connect() {
        link.setLinkSpecifier(served.Spec());
        return link.connect();
    }

    ServedDevice served;
    Link link;
};

linkSpec _spec(linkType type) {
    linkSpec spec{};
    spec.type = type;
    return spec;
}

} // namespace

TEST(Link, ConnectRefusesWhatCannotBeConnected) {
    Link link("test");
    linkSpec spec{};
    EXPECT_EQ(link.getLinkSpecifier(&spec), aErrNotFound);
    EXPECT_EQ(link.connect(), aErrConfiguration) << "no specifier";

    aEtherConfig config;
    ASSERT_EQ(link.getConfig(&config), aErrNone);
    EXPECT_TRUE(config.sharingEnabled && config.allowFallback && config.localOnly);
    EXPECT_EQ(config.interfaceAddress, aETHER_LOOPBACK_ADDRESS);
    EXPECT_EQ(link.getConfig(nullptr), aErrParam);

    const struct {
        const char* what;
        linkType type;
        bool sharing;
        aErr expected;
    } cases[] = {
        {"aEther with sharing off", AETHER, false, aErrConfiguration},
        {"no transport", INVALID, false, aErrMode},
        {"unknown transport", static_cast<linkType>(9), false, aErrMode},
        {"aEther through a sharing server", AETHER, true, aErrUnimplemented},
        {"USB through a sharing server", USB, true, aErrUnimplemented},
    };
    for (const auto& c : cases) {
        config.sharingEnabled = c.sharing;
        ASSERT_EQ(link.setConfig(config), aErrNone);
        ASSERT_EQ(link.setLinkSpecifier(_spec(c.type)), aErrNone);
        EXPECT_EQ(link.connect(), c.expected) << c.what;
        EXPECT_FALSE(link.isConnected()) << c.what;
        EXPECT_EQ(link.getStatus(), LINK_PACKET_ERROR) << c.what << ": no link id held";
    }
}

TEST_F(DirectLink, NothingListeningGivesAConnectionErrorAndHoldsNoId) {
    linkSpec spec = served.Spec();
    served.server.Stop();
    link.setLinkSpecifier(spec);
    EXPECT_EQ(link.connect(), aErrConnection);
    EXPECT_EQ(link.getStatus(), LINK_PACKET_ERROR);
}

TEST_F(DirectLink, WhileConnectedTheSpecifierAndConfigurationStay) {
    ASSERT_EQ(Connect(), aErrNone);
    EXPECT_TRUE(link.isConnected());
    EXPECT_EQ(link.getStatus(), LINK_RUNNING);
    EXPECT_EQ(link.connect(), aErrConnection);
    EXPECT_EQ(link.setConfig(aEtherConfig{}), aErrMode);
    EXPECT_EQ(link.setLinkSpecifier(_spec(USB)), aErrBusy);
    linkSpec spec{};
    ASSERT_EQ(link.getLinkSpecifier(&spec), aErrNone);
    EXPECT_EQ(spec.ip.ipPort, served.server.Port());

    EXPECT_EQ(link.disconnect(), aErrNone);
    EXPECT_FALSE(link.isConnected());
    EXPECT_EQ(link.disconnect(), aErrNone);
    EXPECT_EQ(link.connect(), aErrNone) << "the same specifier connects again";
}

TEST_F(DirectLink, MessagesNeedAConnectionAndADeviceAddress) {
    uei request{};
    request.address = 2;
    request.command = 3;
    uint8_t byte = 0;
    uint8_t length = 0;
    uint8_t out[aPACKET_DATA_MAX];
    uint64_t count = 0;
    const std::vector<std::pair<const char*, std::function<aErr()>>> operations = {
        {"sendUEI", [&] { return link.sendUEI(request); }},
        {"sendUEI with subindex", [&] { return link.sendUEI(request, 1); }},
        {"receiveUEI", [&] { return link.receiveUEI(request.address, 3, 1, 0, &request); }},
        {"dropMatchingUEIPackets", [&] { return link.dropMatchingUEIPackets(request.address, 3, 1, 0); }},
        {"sendPacket", [&] { return link.sendPacket(request.address, 23, 1, &byte); }},
        {"receivePacket", [&] { return link.receivePacket(request.address, &byte, &length, out); }},
    };
    for (const auto& [name, operation] : operations) {
        EXPECT_EQ(operation(), aErrConnection) << name;
    }
    EXPECT_EQ(link.storeSlotSize(2, 0, 0, &count), aErrConnection);
    EXPECT_EQ(link.getFactoryData(2, 0, out, sizeof out, &count), aErrConnection);
    EXPECT_EQ(link.getModuleAddress(&byte), aErrNotReady);
    EXPECT_EQ(link.enablePacketLog("/dev/null"), aErrConfiguration);

    ASSERT_EQ(Connect(), aErrNone);
    for (uint8_t address : {0, 3}) {
        request.address = address;
        for (const auto& [name, operation] : operations) {
            EXPECT_EQ(operation(), aErrPacket) << name << " to " << int(address);
        }
    }
    uint8_t address = 0;
    ASSERT_EQ(link.getModuleAddress(&address), aErrNone);
    for (const auto& packet : served.device.Record().received) {
        EXPECT_TRUE(packet.address == aLINK_FORCE_ROUTE_ADDRESS || packet.address == aLINK_PROBE_ADDRESS)
            << "nothing but link control went out";
    }
}

TEST_F(DirectLink, UEIValuesAndByteStringsOnTheWire) {
    ASSERT_EQ(Connect(), aErrNone);
    constexpr uint8_t SILENT = 60;
    uei request{};
    request.address = 2;
    request.command = SILENT;
    request.option = 0x81;
    request.index = 0x20;
    request.valueType = aUEI_TYPE_SHORT;
    request.value.shortVal = 0xABCD;
    ASSERT_EQ(link.sendUEI(request), aErrNone);
    ASSERT_EQ(link.sendUEI(request, 9), aErrNone);
    request.valueType = aUEI_TYPE_INT;
    request.value.intVal = 0x01020304;
    ASSERT_EQ(link.sendUEI(request, 9), aErrNone);
    request.valueType = 3;
    EXPECT_EQ(link.sendUEI(request), aErrParam) << "no such value form";
    request.valueType = aUEI_TYPE_BYTES;
    EXPECT_EQ(link.sendUEI(request, 9), aErrParam) << "no byte strings with a subindex";

    Bytes fifty(50, 0xEE);
    request.value.bytes = fifty.data();
    for (uint64_t length : {50, 24, 0}) {
        request.bytesLength = length;
        ASSERT_EQ(link.sendUEI(request), aErrNone);
    }
    ASSERT_TRUE(served.device.WaitFor(
        [](const qvsim::SimRecord& r) {
            return std::count_if(r.received.begin(), r.received.end(),
                                 [](const qvsim::SimPacket& p) { return p.data[0] == SILENT; }) == 8;
        },
        std::chrono::seconds(2)));
    std::vector<std::pair<size_t, uint8_t>> shapes;
    for (const auto& packet : served.Received(SILENT)) {
        shapes.emplace_back(packet.size(), packet.back());
    }
    EXPECT_EQ(
        shapes,
        (std::vector<std::pair<size_t, uint8_t>>{
            {5, 0xCD}, {6, 0xCD}, {8, 0x04}, {28, 0x80}, {28, 0x81}, {6, 0x02}, {28, 0x00}, {4, 0x00}}));
    EXPECT_EQ(served.Received(SILENT)[1], (Bytes{SILENT, 0x81, 0x20, 9, 0xAB, 0xCD}));
}

TEST_F(DirectLink, RawPacketsAndTheModuleAddress) {
    ASSERT_EQ(Connect(), aErrNone);
    uint8_t address = 0;
    EXPECT_EQ(link.getModuleAddress(&address), aErrNone);
    EXPECT_EQ(address, 2);

    Bytes data(28, 0x11);
    EXPECT_EQ(link.sendPacket(2, 23, 28, data.data()), aErrParam);
    ASSERT_EQ(link.sendPacket(2, 23, 27, data.data()), aErrNone);
    const uint8_t match[] = {23, 0x11};
    uint8_t length = sizeof match;
    uint8_t out[aPACKET_DATA_MAX];
    ASSERT_EQ(link.receivePacket(2, match, &length, out), aErrNone);
    EXPECT_EQ(length, 28);
    Bytes expected(28, 0x11);
    expected[0] = 23;
    EXPECT_EQ(Bytes(out, out + 28), expected);

    // The reply is taken from whichever device sends it.
    served.device.Emit(qvsim::SimPacket::Make(10, {23, 5}));
    length = 1;
    ASSERT_EQ(link.receivePacket(2, match, &length, out), aErrNone);
    EXPECT_EQ(length, 2);
    length = 1;
    EXPECT_EQ(link.receivePacket(2, match, &length, out), aErrTimeout);
}

TEST_F(DirectLink, SharedConnectionLastsUntilItsLastUserLeaves) {
    Link other("other");
    EXPECT_EQ(other.connectThroughLinkModule(link), aErrInitialization) << "nothing to share yet";
    ASSERT_EQ(Connect(), aErrNone);
    other.setConfig(DirectConfig());
    other.setLinkSpecifier(served.Spec());
    ASSERT_EQ(other.connectThroughLinkModule(link), aErrNone);
    uint8_t address = 0;
    ASSERT_EQ(other.getModuleAddress(&address), aErrNone);
    EXPECT_EQ(served.device.Record().connectionsOpened, 1u) << "one engine connection for both";
    EXPECT_EQ(other.connectThroughLinkModule(link), aErrConnection) << "holds an id already";

    link.disconnect();
    EXPECT_TRUE(other.isConnected());
    EXPECT_EQ(other.getModuleAddress(&address), aErrNone);
    other.disconnect();
    EXPECT_TRUE(served.device.WaitFor([](const qvsim::SimRecord& r) { return r.connectionsOpen == 0; },
                                      std::chrono::seconds(3)));
}

TEST_F(DirectLink, PacketLogWritesOneLinePerRecord) {
    char path[] = "/tmp/qv-packet-log-XXXXXX";
    int descriptor = mkstemp(path);
    ASSERT_GE(descriptor, 0);
    close(descriptor);
    ASSERT_EQ(Connect(), aErrNone);
    ASSERT_EQ(link.enablePacketLog(path), aErrNone);
    uint8_t address = 0;
    ASSERT_EQ(link.getModuleAddress(&address), aErrNone);

    std::string log;
    for (int round = 0; round < 200 && log.find("0xAD 0x0 \r\n") == std::string::npos; ++round) {
        usleep(10000);
        std::ifstream file(path, std::ios::binary);
        log.assign(std::istreambuf_iterator<char>(file), {});
    }
    EXPECT_EQ(link.disablePacketLog(), aErrNone);
    unlink(path);
    EXPECT_NE(log.find(std::string("6 < START\0\r\n", 12)), std::string::npos) << log;
    EXPECT_NE(log.find("2 > 0xAD 0x0 \r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("2 < 0x2 0x0 \r\n"), std::string::npos) << log;
}
