#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "LoopbackPeer.h"
#include "MemoryStream.h"
#include "ResourceGuard.h"
#include "aLink.h"
#include "aLinkManagerInternal.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr uint32_t LOOPBACK = 0x0100007F; // 127.0.0.1 in network byte order

std::string probes(int count) {
    std::string bytes;
    for (int i = 0; i < count; i++)
        bytes += std::string("\xAD\x00", 2);
    return bytes;
}

bool anyPacket(const aPacket*, void*) {
    return true;
}

bool eventually(const std::function<bool()>& condition) {
    for (auto deadline = Clock::now() + 3s; Clock::now() < deadline; std::this_thread::sleep_for(5ms)) {
        if (condition())
            return true;
    }
    return condition();
}

aPacketPtr packetOf(uint8_t address, const std::string& data) {
    return aPacketPtr(
        aPacket_CreateWithData(address, uint8_t(data.size()), reinterpret_cast<const uint8_t*>(data.data())));
}

class LinkWireTest : public ::testing::Test {
protected:
    void TearDown() override {
        if (id != 0)
            aLink_Destroy(&id);
        guard.Verify();
    }
    bool status(int32_t wanted) {
        return eventually([&] { return aLink_GetStatus(id) == wanted; });
    }

    ResourceGuard guard;
    MemoryStream wire; // outlives the links made over it
    uint32_t id = 0;
};

} // namespace

// The device's bytes are the only way the link can find packet boundaries again: two answers to address
// probes in a row, A, 0, A, 0, put it back in step.
TEST_F(LinkWireTest, RefusedBytesLeadToProbesAndTwoAnswersResynchronise) {
    LoopbackPeer device;
    id = aLink_CreateTCPIP(LOOPBACK, device.port);
    ASSERT_NE(id, 0u);
    device.accept();
    EXPECT_EQ(device.receive(3), "\xAF\x01\x01");

    const std::string refused[] = {std::string("\x05"), std::string("\x00", 1), std::string("\x04\x1D")};
    for (const std::string& garbage : refused) {
        SCOPED_TRACE(testing::PrintToString(garbage));
        ASSERT_TRUE(device.send(garbage));
        EXPECT_EQ(device.receive(12), probes(6));
        ASSERT_TRUE(status(aLINK_SYNCHRONISING));

        auto start = Clock::now();
        EXPECT_EQ(aLink_AwaitFirst(id, anyPacket, nullptr, 10000), nullptr);
        EXPECT_LT(Clock::now() - start, 1s);

        ASSERT_TRUE(device.send(std::string("\x04\x00\x06\x00", 4)));
        std::this_thread::sleep_for(150ms);
        EXPECT_EQ(aLink_GetStatus(id), aLINK_SYNCHRONISING);
        ASSERT_TRUE(device.send(std::string("\x04\x00\x04\x00", 4)));
        ASSERT_TRUE(status(aLINK_RUNNING));
    }
    EXPECT_EQ(aLink_GetPacket(id), nullptr);

    ASSERT_TRUE(device.send(std::string("\x04\x02\x00\x01", 4)));
    EXPECT_NE(device.receiveThrough(std::string("\x04\x02\x00\x03", 4)), "");
    ASSERT_TRUE(device.send(std::string("\x04\x01\x17", 3)));
    aPacketPtr delivered(aLink_AwaitPacket(id, 3000));
    ASSERT_TRUE(delivered);
    EXPECT_EQ(delivered->address, 4);
    EXPECT_EQ(delivered->length, 1);
    EXPECT_EQ(delivered->data[0], 0x17);

    EXPECT_EQ(aLink_Destroy(&id), aErrNone);
    EXPECT_NE(device.receiveThrough("\xAF\x01" + std::string(1, '\0')), "");
}

TEST_F(LinkWireTest, PooledWriterSendsWhatIsQueuedInBatchesOfUpTo4096Bytes) {
    wire.HoldWrites();
    id = aLink_Create(wire.Make());
    ASSERT_NE(id, 0u);
    ASSERT_TRUE(wire.WaitHeld()); // the force-route packet of the start
    ASSERT_EQ(aLink_EnablePooledPackets(id, true), aErrNone);
    std::string expected;
    for (int i = 0; i < 300; i++) {
        aPacketPtr packet = packetOf(2, std::string(28, char(i)));
        ASSERT_EQ(aLink_PutPacket(id, packet.get()), aErrNone);
        expected += std::string("\x02\x1C", 2) + std::string(28, char(i));
    }
    wire.Release();
    EXPECT_EQ(wire.WaitWrites(4), (std::vector<size_t>{3, 4080, 4080, 840}));
    EXPECT_EQ(wire.Sent().substr(3), expected);
}

TEST_F(LinkWireTest, StoppingDoesNotKeepWritingToAPeerThatRefuses) {
    wire.HoldWrites();
    id = aLink_Create(wire.Make());
    ASSERT_NE(id, 0u);
    ASSERT_TRUE(wire.WaitHeld());
    for (int i = 0; i < 500; i++)
        ASSERT_EQ(aLink_PutPacket(id, packetOf(2, "x").get()), aErrNone);
    // The record stays valid until the destroy is through, which waits for the held writer.
    aLinkRecord* stopping = sGetLink(id);
    std::thread stopper([this] { aLink_Destroy(&id); });
    EXPECT_TRUE(eventually([stopping] { return stopping->running == 0; }));
    wire.Release(aErrIO);
    stopper.join();
    EXPECT_LT(wire.WaitWrites(0).size(), 10u);
}

TEST_F(LinkWireTest, UnknownLinksAreRefused) {
    uint32_t unknown = 0xFFFF;
    EXPECT_EQ(aLink_GetStatus(unknown), aLINK_NO_STREAM);
    EXPECT_EQ(aLink_PutPacket(unknown, packetOf(2, "x").get()), aErrParam);
    EXPECT_EQ(aLink_AwaitPacket(unknown, 10), nullptr);
    EXPECT_EQ(aLink_DrainPackets(unknown, anyPacket, nullptr), 0u);
    EXPECT_EQ(aLink_EnablePooledPackets(unknown, true), aErrParam);
    EXPECT_EQ(aLink_ForceRoute(unknown, 1), aErrNotFound);
    EXPECT_EQ(aLink_Start(unknown), aErrParam);
    EXPECT_EQ(aLink_Init(unknown, nullptr), 0u);
    EXPECT_EQ(aLink_Stop(nullptr), aErrParam);
    EXPECT_EQ(aLink_Destroy(&unknown), aErrParam);
    EXPECT_EQ(unknown, 0u);
    EXPECT_EQ(aLink_Create(nullptr), 0u);
}
