#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <memory>
#include <netinet/in.h>
#include <thread>
#include <vector>

#include "ResourceGuard.h"
#include "SimDevice.h"
#include "SimPty.h"
#include "SimTcpServer.h"
#include "aLink.h"
#include "aLinkManagerInternal.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr uint8_t ECHO = 23;
constexpr uint32_t LOOPBACK = 0x0100007F; // 127.0.0.1 in network byte order

bool anyPacket(const aPacket*, void*) {
    return true;
}

// Accepts the echo of the packet whose data byte 1 is the wanted tag.
bool echoTagged(const aPacket* packet, void* context) {
    return packet->length >= 2 && packet->data[0] == ECHO &&
           packet->data[1] == *static_cast<uint8_t*>(context);
}

class LinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        device.RegisterCommand(ECHO, [](const qvsim::SimPacket& request, qvsim::SimReplies& replies) {
            replies.Add(request.Data());
        });
        server = std::make_unique<qvsim::SimTcpServer>(device);
    }
    void TearDown() override {
        for (uint32_t& id : links) {
            while (aLink_GetStatus(id) != aLINK_NO_STREAM && aLink_Destroy(&id) == aErrNone)
                ;
        }
        server.reset();
        guard.Verify();
    }

    // A link to the device (or to whatever listens on the port); with the device, it returns once the
    // device has taken the connection, so that what the device sends reaches the link.
    uint32_t connect(uint16_t port = 0) {
        uint32_t id = aLink_CreateTCPIP(LOOPBACK, port != 0 ? port : server->Port());
        links.push_back(id);
        if (id != 0 && port == 0) {
            EXPECT_TRUE(deviceSaw([](const qvsim::SimRecord& r) { return r.connectionsOpen > 0; }));
        }
        return id;
    }
    static aErr send(uint32_t id, uint8_t tag, uint8_t address = 2) {
        const uint8_t data[] = {ECHO, tag};
        aPacketPtr packet(aPacket_CreateWithData(address, sizeof(data), data));
        return aLink_PutPacket(id, packet.get());
    }
    // True when the echo of the tag comes back within the time.
    static bool echoed(uint32_t id, uint8_t tag, uint32_t ms = 2000) {
        return aPacketPtr(aLink_AwaitFirst(id, echoTagged, &tag, ms)) != nullptr;
    }
    bool deviceSaw(const std::function<bool(const qvsim::SimRecord&)>& condition) {
        return device.WaitFor(condition, 3000ms);
    }
    // Polls a condition on the host's side for a bounded time.
    static bool eventually(const std::function<bool()>& condition) {
        for (auto deadline = Clock::now() + 3s; Clock::now() < deadline; std::this_thread::sleep_for(5ms)) {
            if (condition())
                return true;
        }
        return condition();
    }
    static bool running(uint32_t id) {
        return eventually([id] { return aLink_GetStatus(id) == aLINK_RUNNING; });
    }

    ResourceGuard guard;
    qvsim::SimDevice device;
    std::unique_ptr<qvsim::SimTcpServer> server;
    std::vector<uint32_t> links;
};

} // namespace

TEST_F(LinkTest, StartAndStopSetTheRouteOnTheDevice) {
    uint32_t id = connect();
    ASSERT_NE(id, 0u);
    EXPECT_EQ(aLink_GetStatus(id), aLINK_RUNNING);
    EXPECT_TRUE(
        deviceSaw([](const qvsim::SimRecord& r) { return r.forceRoutes == std::vector<uint8_t>{1}; }));
    ASSERT_EQ(send(id, 7), aErrNone);
    EXPECT_TRUE(echoed(id, 7));

    EXPECT_EQ(aLink_Destroy(&id), aErrNone);
    EXPECT_EQ(id, 0u);
    EXPECT_TRUE(deviceSaw([](const qvsim::SimRecord& r) {
        return r.forceRoutes == std::vector<uint8_t>{1, 0};
    }));
    EXPECT_EQ(aLink_Destroy(&links[0]), aErrParam);
}

TEST_F(LinkTest, UsersOfOneDeviceShareALinkUntilTheLastLeaves) {
    qvsim::SimDevice other;
    qvsim::SimTcpServer otherServer(other);
    uint32_t first = connect();
    uint32_t second = connect();
    ASSERT_NE(first, 0u);
    EXPECT_EQ(second, first);
    // Another device behind the same address but on another port is another link.
    uint32_t elsewhere = connect(otherServer.Port());
    EXPECT_NE(elsewhere, 0u);
    EXPECT_NE(elsewhere, first);
    EXPECT_EQ(device.Record().connectionsOpened, 1u);

    EXPECT_EQ(aLink_Destroy(&first), aErrNone);
    EXPECT_EQ(aLink_GetStatus(second), aLINK_RUNNING);
    ASSERT_EQ(send(second, 1), aErrNone);
    EXPECT_TRUE(echoed(second, 1));
    EXPECT_EQ(aLink_Destroy(&second), aErrNone);
    EXPECT_EQ(aLink_GetStatus(links[0]), aLINK_NO_STREAM);
    EXPECT_EQ(aLink_Destroy(&elsewhere), aErrNone);
}

TEST_F(LinkTest, FailedCreationsLeaveNothingBehind) {
    uint16_t closedPort;
    {
        qvsim::SimTcpServer gone(device);
        closedPort = gone.Port();
    }
    EXPECT_EQ(connect(closedPort), 0u);

    qvsim::SimPty pty(device);
    const uint32_t serial = device.Identity().serialNumber;
    EXPECT_EQ(aLink_CreateSerial(serial, pty.SlavePath().c_str(), 14400), 0u);
    EXPECT_EQ(aLink_CreateSerial(serial, "/nonexistent/ttyQV", 115200), 0u);
    uint32_t id = aLink_CreateSerial(serial, pty.SlavePath().c_str(), 115200);
    ASSERT_NE(id, 0u);
    EXPECT_EQ(aLink_GetStatus(id), aLINK_RUNNING);
    ASSERT_EQ(send(id, 3), aErrNone);
    EXPECT_TRUE(echoed(id, 3));
    EXPECT_EQ(aLink_Destroy(&id), aErrNone);
}

TEST_F(LinkTest, GarbageFromTheDeviceIsFollowedByProbesAndAResynchronisation) {
    uint32_t id = connect();
    ASSERT_NE(id, 0u);
    device.InjectGarbage({0x05, 0x13, 0x42, 0x77});
    EXPECT_TRUE(deviceSaw([](const qvsim::SimRecord& r) { return r.probesAnswered >= 6; }));
    ASSERT_TRUE(running(id));
    ASSERT_EQ(send(id, 9), aErrNone);
    EXPECT_TRUE(echoed(id, 9));
    // Garbage in front of a reply costs that reply at most; the link finds its way back.
    device.InjectGarbage({0x03, 0x99}, qvsim::SimGarbageWhen::BeforeNextReply);
    send(id, 10);
    echoed(id, 10, 500);
    ASSERT_TRUE(running(id));
    ASSERT_EQ(send(id, 11), aErrNone);
    EXPECT_TRUE(echoed(id, 11));
}

TEST_F(LinkTest, SyncProbesTheDeviceAndDropsTheStrayAnswers) {
    uint32_t id = connect();
    ASSERT_NE(id, 0u);
    EXPECT_EQ(aLink_Sync(id), aErrNone);
    EXPECT_GE(device.Record().probesAnswered, 6u);
    EXPECT_EQ(aLink_GetStatus(id), aLINK_RUNNING);
    EXPECT_EQ(aLink_DrainPackets(id, anyPacket, nullptr), 0u);
    EXPECT_EQ(aLink_Sync(0), aErrParam);
}

TEST_F(LinkTest, HeartbeatsAreAnsweredAndNeverDelivered) {
    uint32_t id = connect();
    ASSERT_NE(id, 0u);
    device.EmitHeartbeat(true);
    device.EmitHeartbeat(false);
    ASSERT_TRUE(deviceSaw([](const qvsim::SimRecord& r) { return r.heartbeatAnswers == 2; }));
    auto received = device.Record().received;
    EXPECT_NE(std::find(received.begin(), received.end(), qvsim::SimPacket::Make(2, {0, 2})), received.end());
    EXPECT_NE(std::find(received.begin(), received.end(), qvsim::SimPacket::Make(2, {0, 3})), received.end());
    EXPECT_EQ(aLink_GetPacket(id), nullptr);
}

TEST_F(LinkTest, UserFilterConsumesPacketsUntilRemoved) {
    uint32_t id = connect();
    ASSERT_NE(id, 0u);
    std::atomic<int> seen = 0;
    ASSERT_EQ(
        aLink_InstallUserPacketFilter(
            id, [](const aPacket*, void* context) { return ++*static_cast<std::atomic<int>*>(context) > 0; },
            &seen),
        aErrNone);
    send(id, 1);
    send(id, 2);
    ASSERT_TRUE(eventually([&] { return seen == 2; }));
    EXPECT_EQ(aLink_AwaitPacket(id, 100), nullptr);

    ASSERT_EQ(aLink_InstallUserPacketFilter(id, nullptr, nullptr), aErrNone);
    send(id, 3);
    EXPECT_TRUE(echoed(id, 3));
    EXPECT_EQ(seen, 2);
    EXPECT_EQ(aLink_InstallUserPacketFilter(0, nullptr, nullptr), aErrParam);
}

TEST_F(LinkTest, ModuleAddressAndModelQueries) {
    device.RegisterCommand(3, [](const qvsim::SimPacket& request, qvsim::SimReplies& replies) {
        replies.Add({3, uint8_t(request.data[1] & 0x3F), uint8_t(request.data[2] & 0x1F), 13});
    });
    uint32_t id = connect();
    ASSERT_NE(id, 0u);
    uint8_t address = 0;
    EXPECT_EQ(_aLink_GetModuleAddress(id, &address), aErrNone);
    EXPECT_EQ(address, 2);
    uint8_t model = 0;
    EXPECT_EQ(_aLink_GetModel(id, 2, &model), aErrNone);
    EXPECT_EQ(model, 13);

    device.Faults().DropNextReplies(1);
    EXPECT_EQ(_aLink_GetModel(id, 2, &model), aErrTimeout);
    // Whatever arrives first is taken: an answer that is not a model is an I/O error.
    device.Emit(qvsim::SimPacket::Make(2, {9, 9, 9, 9}));
    EXPECT_EQ(_aLink_GetModel(id, 2, &model), aErrIO);
}

TEST_F(LinkTest, ResetReconnectsAndForgetsTheLinkSettings) {
    uint32_t id = connect();
    ASSERT_NE(id, 0u);
    ASSERT_EQ(aLink_InstallUserPacketFilter(id, anyPacket, nullptr), aErrNone);
    EXPECT_EQ(aLink_Reset(id), aErrNone);
    EXPECT_EQ(aLink_GetStatus(id), aLINK_RUNNING);
    EXPECT_TRUE(deviceSaw([](const qvsim::SimRecord& r) {
        return r.connectionsOpened == 2 && r.forceRoutes == std::vector<uint8_t>{1, 0, 1};
    }));
    ASSERT_EQ(send(id, 4), aErrNone);
    EXPECT_TRUE(echoed(id, 4));
    EXPECT_EQ(aLink_Reset(0), aErrParam);
}

TEST_F(LinkTest, ResetWithoutAWayToTheDeviceLeavesALinkWithoutStream) {
    uint32_t id = connect();
    ASSERT_NE(id, 0u);
    server.reset();
    EXPECT_EQ(aLink_Reset(id), aErrResource);
    EXPECT_EQ(aLink_GetStatus(id), aLINK_NO_STREAM);
    EXPECT_NE(send(id, 1), aErrParam);
    EXPECT_EQ(aLink_AwaitFirst(id, anyPacket, nullptr, 1000), nullptr);
}

TEST_F(LinkTest, LinkComesBackAfterTheDeviceDropsTheConnection) {
    uint32_t id = connect();
    ASSERT_NE(id, 0u);
    device.DisconnectNow();
    bool answered = false;
    for (uint8_t tag = 1; tag < 20 && !answered; tag++) {
        send(id, tag);
        answered = echoed(id, tag, 250);
    }
    EXPECT_TRUE(answered);
    EXPECT_EQ(device.Record().connectionsOpened, 2u);
}

TEST_F(LinkTest, SerialLinkOverAPty) {
    qvsim::SimPty pty(device);
    uint32_t id = aLink_CreateSerial(0x1A2B3C4D, pty.SlavePath().c_str(), 230400);
    links.push_back(id);
    ASSERT_NE(id, 0u);
    EXPECT_EQ(aLink_CreateSerial(0x1A2B3C4D, "/elsewhere", 9600), id);
    aLink_Destroy(&links.back());
    links.back() = id;
    device.EmitHeartbeat(true);
    EXPECT_TRUE(deviceSaw([](const qvsim::SimRecord& r) { return r.heartbeatAnswers == 1; }));
    device.InjectGarbage({0x07});
    EXPECT_TRUE(deviceSaw([](const qvsim::SimRecord& r) { return r.probesAnswered >= 6; }));
    ASSERT_TRUE(running(id));
    ASSERT_EQ(send(id, 5), aErrNone);
    EXPECT_TRUE(echoed(id, 5));
    // A serial port cannot be made again by a reset.
    EXPECT_EQ(aLink_Reset(id), aErrParam);
    EXPECT_EQ(aLink_GetStatus(id), aLINK_NO_STREAM);
}
