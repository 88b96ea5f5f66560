#include "SimDevice.h"
#include "RawClient.h"
#include "SimEntities.h"
#include "SimRouter.h"
#include "SimTcpServer.h"

#include <gtest/gtest.h>

using namespace qvsim;
using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

namespace {

Bytes _full_packet() {
    Bytes wire{2, 28};
    wire.resize(30, 7);
    return wire;
}

// A device with an echo entity on its own address, served over TCP to one raw host.
struct SimServedDevice : ::testing::Test {
    SimServedDevice() : device(SimIdentity{}), server(device), host(RawClient::Tcp(server.Port())) {
        device.RegisterCommand(
            23, [](const SimPacket& request, SimReplies& replies) { replies.Add(request.Data()); });
    }

    SimDevice device;
    SimTcpServer server;
    RawClient host;
};

} // namespace

TEST(SimFramer, FindsPacketsAndSkipsBytesNoPacketCanStartWith) {
    struct Case {
        const char* what;
        Bytes wire;
        std::vector<SimPacket> packets;
        size_t skipped;
    };
    const std::vector<Case> cases = {
        {"probe and force route",
         {0xAD, 0, 0xAF, 1, 1},
         {SimPacket::Make(0xAD, {}), SimPacket::Make(0xAF, {1})},
         0},
        {"zero and odd bytes before a packet", {0, 5, 0xFF, 4, 1, 9}, {SimPacket::Make(4, {9})}, 3},
        {"a too long length makes its address noise", {4, 29, 2, 0}, {SimPacket::Make(2, {})}, 2},
        {"length byte that can start a packet", {4, 30, 0}, {SimPacket::Make(30, {})}, 1},
        {"full packet", _full_packet(), {SimPacket::Make(2, Bytes(28, 7))}, 0},
    };
    for (const auto& c : cases) {
        SimFramer framer;
        std::vector<SimPacket> packets;
        for (uint8_t byte : c.wire) {
            if (auto packet = framer.Add(byte)) {
                packets.push_back(*packet);
            }
        }
        EXPECT_EQ(packets, c.packets) << c.what;
        EXPECT_EQ(framer.SkippedBytes(), c.skipped) << c.what;
    }
    EXPECT_THROW(SimPacket::Make(2, Bytes(29, 0)), std::invalid_argument);
}

TEST_F(SimServedDevice, RecordsForceRoutesWithoutAnswering) {
    host.Send(Bytes{0xAF, 1, 1, 0xAF, 1, 0, 0xAD, 0});
    EXPECT_EQ(host.ReadQuiet(), (Bytes{2, 0}));
    EXPECT_EQ(device.Record().forceRoutes, (Bytes{1, 0}));
}

// A link that starts sends route 1, and a router then forwards to its children until route 0.
TEST_F(SimServedDevice, ARouterRoutesToTheHostWhileTheForceRouteSaysSo) {
    auto entities = SimEntities::Install(device.Module());
    auto router = SimRouter::Install(device, entities);
    router->AddChild(SimIdentity{.moduleAddress = 10, .serialNumber = 0xC41D});
    const Bytes echo{10, 2, 23, 7};
    for (uint8_t route : {1, 0}) {
        host.Send(Bytes{0xAF, 1, route});
        host.Send(echo);
        EXPECT_EQ(host.ReadQuiet(), route ? echo : Bytes{}) << int(route);
        EXPECT_EQ(router->Routing(), route == 1);
    }
}

TEST_F(SimServedDevice, AnswersHostHeartbeatsAndCountsAnswersToItsOwn) {
    host.Send(Bytes{2, 2, 0, 0, 2, 2, 0, 1});
    EXPECT_EQ(host.Read(8), (Bytes{2, 2, 0, 2, 2, 2, 0, 3}));

    device.EmitHeartbeat(false);
    EXPECT_EQ(host.Read(4), (Bytes{2, 2, 0, 1}));
    host.Send(Bytes{2, 2, 0, 3});
    EXPECT_TRUE(device.WaitFor([](const SimRecord& r) { return r.heartbeatAnswers == 1; }, 1s));
    EXPECT_EQ(host.ReadQuiet(), Bytes{});
}

TEST_F(SimServedDevice, ModulesBehindTheDeviceAnswerOnTheirOwnAddress) {
    auto child = std::make_shared<SimModule>(SimIdentity{.moduleAddress = 10});
    child->RegisterCommand(23, [](const SimPacket&, SimReplies& replies) { replies.Add({23, 0x10}); });
    device.AttachModule(child);

    // Own echo, the child, an unknown address, an unregistered command: only the first two answer.
    host.Send(Bytes{2, 2, 23, 1, 10, 1, 23, 12, 1, 23, 2, 1, 99});
    EXPECT_EQ(host.ReadQuiet(), (Bytes{2, 2, 23, 1, 10, 2, 23, 0x10}));

    device.DetachModule(10);
    host.Send(Bytes{10, 1, 23});
    EXPECT_EQ(host.ReadQuiet(), Bytes{});
    EXPECT_EQ(device.Record().received.size(), 5u);
    EXPECT_EQ(device.Record().sent.size(), 2u);
}

TEST(SimModule, RefusesAddressesThatCannotNameADevice) {
    for (uint8_t address : {0, 3, 173}) {
        EXPECT_THROW(SimModule(SimIdentity{.moduleAddress = address}), std::invalid_argument) << int(address);
    }
    SimDevice device;
    EXPECT_THROW(device.SetIdentity(SimIdentity{.moduleAddress = 7}), std::invalid_argument);
    EXPECT_EQ(device.Identity().moduleAddress, 2);
}

TEST_F(SimServedDevice, AHandlerCanEndTheConnectionAfterItsRepliesAsARestartingDeviceDoes) {
    device.RegisterCommand(95, [](const SimPacket&, SimReplies& replies) {
        replies.Add({95, 2});
        replies.Disconnect();
    });
    host.Send(Bytes{2, 2, 95, 2});
    EXPECT_EQ(host.Read(4), (Bytes{2, 2, 95, 2}));
    EXPECT_TRUE(host.SeesHangUp());
}
