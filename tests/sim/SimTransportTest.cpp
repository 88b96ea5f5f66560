#include "RawClient.h"
#include "SimDevice.h"
#include "SimTcpServer.h"

#include <gtest/gtest.h>

using namespace qvsim;
using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

namespace {

SimIdentity _identity(uint8_t address) {
    SimIdentity identity;
    identity.moduleAddress = address;
    return identity;
}

} // namespace

TEST(SimTcpServer, AnswersAddressProbesAndFramesRepliesOverLoopback) {
    SimDevice device(_identity(6));
    device.RegisterCommand(
        23, [](const SimPacket& request, SimReplies& replies) { replies.Add(request.Data()); });
    SimTcpServer server(device);
    ASSERT_NE(server.Port(), 0);

    RawClient host = RawClient::Tcp(server.Port());
    // Six probes as a host sends them to synchronise, then a request split over two writes.
    host.Send(Bytes{0xAD, 0, 0xAD, 0, 0xAD, 0, 0xAD, 0, 0xAD, 0, 0xAD, 0, 6, 3, 23});
    host.Send(Bytes{0xAA, 0x55});
    EXPECT_EQ(host.Read(17), (Bytes{6, 0, 6, 0, 6, 0, 6, 0, 6, 0, 6, 0, 6, 3, 23, 0xAA, 0x55}));
    EXPECT_EQ(device.Record().probesAnswered, 6u);
}

TEST(SimTcpServer, ServesSeveralHostsAndStopsCleanly) {
    SimDevice device(_identity(2));
    auto server = std::make_unique<SimTcpServer>(device);
    RawClient first = RawClient::Tcp(server->Port());
    RawClient second = RawClient::Tcp(server->Port());
    first.Send(Bytes{0xAD, 0});
    second.Send(Bytes{0xAD, 0});
    EXPECT_EQ(first.Read(2), (Bytes{2, 0}));
    EXPECT_EQ(second.Read(2), (Bytes{2, 0}));
    ASSERT_TRUE(device.WaitFor([](const SimRecord& r) { return r.connectionsOpen == 2; }, 1s));

    uint16_t port = server->Port();
    server->Stop();
    EXPECT_EQ(device.Record().connectionsOpen, 0u);
    EXPECT_TRUE(first.SeesHangUp());
    EXPECT_THROW(RawClient::Tcp(port), std::runtime_error);
}
