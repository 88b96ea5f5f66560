#include "RawClient.h"
#include "SimDevice.h"
#include "SimPty.h"
#include "SimTcpServer.h"

#include <filesystem>
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

namespace {

size_t _entries(const char* directory) {
    auto entries = std::filesystem::directory_iterator(directory);
    return static_cast<size_t>(std::distance(begin(entries), end(entries)));
}

} // namespace

TEST(SimPty, IsRawBeforeTheHostOpensItAndOutlivesHostsThatClose) {
    char pattern[] = "/tmp/qvsim-XXXXXX";
    std::string directory = ::mkdtemp(pattern);
    std::string link = directory + "/quorvanta.1A2B3C4D";
    SimDevice device;
    {
        SimPty pty(device, link);
        EXPECT_EQ(std::filesystem::read_symlink(link), pty.SlavePath());
        // Bytes a cooked terminal would translate, echo or swallow, from a host that sets nothing.
        device.RegisterCommand(
            23, [](const SimPacket& request, SimReplies& replies) { replies.Add(request.Data()); });
        const Bytes awkward{2, 7, 23, 0x0D, 0x0A, 0x03, 0x11, 0x13, 0x7F};
        for (int round = 0; round < 2; ++round) {
            RawClient host = RawClient::Terminal(link);
            host.Send(awkward);
            EXPECT_EQ(host.Read(awkward.size()), awkward) << "round " << round;
        }
    }
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
    std::filesystem::remove_all(directory);
}

TEST(SimTransports, StopLeavesNoThreadOrDescriptorEvenWithADelayedReplyPending) {
    size_t threads = _entries("/proc/self/task");
    size_t descriptors = _entries("/proc/self/fd");
    SimDevice device;
    device.Faults().SetReplyDelay(std::chrono::minutes(1));
    auto tcp = std::make_unique<SimTcpServer>(device);
    auto pty = std::make_unique<SimPty>(device);
    {
        RawClient overTcp = RawClient::Tcp(tcp->Port());
        RawClient overPty = RawClient::Terminal(pty->SlavePath());
        overTcp.Send(Bytes{0xAD, 0});
        overPty.Send(Bytes{0xAD, 0});
        ASSERT_TRUE(device.WaitFor([](const SimRecord& r) { return r.received.size() == 2; }, 1s));
        auto start = std::chrono::steady_clock::now();
        tcp.reset();
        pty.reset();
        EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    }
    EXPECT_EQ(device.Record().connectionsOpen, 0u);
    EXPECT_EQ(_entries("/proc/self/task"), threads);
    EXPECT_EQ(_entries("/proc/self/fd"), descriptors);
}
