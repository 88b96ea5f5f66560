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

const Bytes PROBE{0xAD, 0};
const Bytes ANSWER{2, 0};

// The same device behind either transport, with echo entities on commands 23 and 24.
class SimFaultSwitches : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        for (uint8_t command : {23, 24}) {
            device.RegisterCommand(
                command, [](const SimPacket& request, SimReplies& replies) { replies.Add(request.Data()); });
        }
        if (IsPty()) {
            char pattern[] = "/tmp/qvsim-XXXXXX";
            directory = ::mkdtemp(pattern);
            pty = std::make_unique<SimPty>(device, directory + "/node");
        } else {
            tcp = std::make_unique<SimTcpServer>(device);
        }
        host.emplace(Connect());
        ASSERT_TRUE(HostIsConnected());
    }

    void TearDown() override {
        host.reset();
        pty.reset();
        tcp.reset();
        if (!directory.empty()) {
            std::filesystem::remove_all(directory);
        }
    }

    bool IsPty() const { return std::string(GetParam()) == "pty"; }
    // A TCP connection reaches the device only once the server has accepted it.
    bool HostIsConnected() {
        return device.WaitFor([](const SimRecord& r) { return r.connectionsOpen == 1; }, 1s);
    }
    RawClient Connect() {
        return IsPty() ? RawClient::Terminal(pty->LinkPath()) : RawClient::Tcp(tcp->Port());
    }

    SimDevice device;
    std::string directory;
    std::unique_ptr<SimTcpServer> tcp;
    std::unique_ptr<SimPty> pty;
    std::optional<RawClient> host;
};

} // namespace

TEST_P(SimFaultSwitches, InjectsGarbageNowAndAroundTheNextReply) {
    device.InjectGarbage({0xFF, 0x01});
    EXPECT_EQ(host->Read(2), (Bytes{0xFF, 0x01}));

    device.InjectGarbage({0x05}, SimGarbageWhen::BeforeNextReply);
    device.InjectGarbage({0x07, 0x09}, SimGarbageWhen::AfterNextReply);
    host->Send(PROBE);
    EXPECT_EQ(host->Read(5), (Bytes{0x05, 2, 0, 0x07, 0x09}));
    host->Send(PROBE);
    EXPECT_EQ(host->ReadQuiet(), ANSWER);
}

TEST_P(SimFaultSwitches, DropsTheNextRepliesOrTheRepliesToOneCommand) {
    device.Faults().DropNextReplies(2);
    host->Send(Bytes{0xAD, 0, 0xAD, 0, 0xAD, 0});
    EXPECT_EQ(host->ReadQuiet(), ANSWER);
    EXPECT_EQ(device.Record().droppedReplies, 2u);

    device.Faults().DropRepliesTo(23);
    host->Send(Bytes{2, 2, 23, 1, 2, 2, 24, 1, 2, 2, 23, 2});
    EXPECT_EQ(host->ReadQuiet(), (Bytes{2, 2, 24, 1}));

    device.Faults().DropRepliesTo(23, 1);
    host->Send(Bytes{2, 2, 23, 3, 2, 2, 23, 4});
    EXPECT_EQ(host->ReadQuiet(), (Bytes{2, 2, 23, 4}));

    device.Faults().DropRepliesTo(23);
    device.Faults().Clear();
    host->Send(Bytes{2, 2, 23, 5});
    EXPECT_EQ(host->ReadQuiet(), (Bytes{2, 2, 23, 5}));
}

TEST_P(SimFaultSwitches, DelaysReplies) {
    device.Faults().SetReplyDelay(400ms);
    host->Send(PROBE);
    EXPECT_EQ(host->Read(2, 100ms), Bytes{});
    EXPECT_EQ(host->Read(2, 2s), ANSWER);
}

TEST_P(SimFaultSwitches, DisconnectsNowAndServesTheHostAgainAfterwards) {
    device.DisconnectNow();
    EXPECT_TRUE(host->SeesHangUp());

    host.emplace(Connect());
    ASSERT_TRUE(HostIsConnected());
    host->Send(PROBE);
    EXPECT_EQ(host->Read(2), ANSWER);
    EXPECT_EQ(device.Record().connectionsOpened, 2u);
}

TEST_P(SimFaultSwitches, DisconnectsAfterTheCountedPacketIsAnswered) {
    device.Faults().DisconnectAfterPackets(2);
    host->Send(PROBE);
    EXPECT_EQ(host->Read(2), ANSWER);
    host->Send(Bytes{2, 2, 23, 9});
    EXPECT_EQ(host->Read(4), (Bytes{2, 2, 23, 9}));
    EXPECT_TRUE(host->SeesHangUp());
}

TEST_P(SimFaultSwitches, EmitsToTheHostOnlyWhenAsked) {
    EXPECT_EQ(host->ReadQuiet(), Bytes{});
    device.Emit(SimPacket::Make(2, {40, 1, 0x40, 7}));
    EXPECT_EQ(host->Read(6), (Bytes{2, 4, 40, 1, 0x40, 7}));
}

INSTANTIATE_TEST_SUITE_P(Transports, SimFaultSwitches, ::testing::Values("tcp", "pty"));
