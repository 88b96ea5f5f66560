#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "LoopbackPeer.h"
#include "MemoryStream.h"
#include "ResourceGuard.h"
#include "aLink.h"
#include "aLinkManagerInternal.h"
#include "aLogger.h"
#include "aPacketDebug.h"

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

namespace {

struct LogRecord {
    uint8_t type;
    std::string bytes;
    bool operator==(const LogRecord&) const = default;
    friend void PrintTo(const LogRecord& record, std::ostream* out) {
        *out << int(record.type) << ":" << testing::PrintToString(record.bytes);
    }
};

std::vector<LogRecord> readLog(uint32_t id) {
    std::vector<LogRecord> records;
    uint8_t buffer[64];
    uint8_t type;
    for (size_t length = sizeof(buffer); aLink_PacketDebug_Read(id, &type, &length, buffer) == aErrNone;
         length = sizeof(buffer))
        records.push_back({type, std::string(reinterpret_cast<char*>(buffer), length)});
    return records;
}

} // namespace

TEST_F(LinkWireTest, PacketLogRecordsTheTrafficWhileEnabled) {
    id = aLink_Create(wire.Make());
    ASSERT_NE(id, 0u);
    uint8_t type;
    size_t length = 8;
    uint8_t buffer[8];
    EXPECT_EQ(aLink_PacketDebug_Read(id, &type, &length, buffer), aErrNotReady);
    EXPECT_EQ(aLink_PacketDebug_Disable(id), aErrNotReady);
    EXPECT_EQ(aLink_PacketDebug_SetLogSize(id, 0x4000001), aErrParam);
    EXPECT_EQ(aLink_PacketDebug_SetLogSize(id, -5), aErrNone);
    ASSERT_EQ(aLink_PacketDebug_Enable(id), aErrNone);
    EXPECT_EQ(sGetLink(id)->packetLog.load()->size, 65536u);
    EXPECT_EQ(aLink_PacketDebug_SetLogSize(id, 1024), aErrBusy);

    ASSERT_EQ(aLink_PacketDebug_Write(id, aPACKETLOG_TEXT, 6, reinterpret_cast<const uint8_t*>("START")),
              aErrNone);
    wire.Feed(std::string("\x04\x01\x17\x04\x02\x00\x00", 7));
    ASSERT_EQ(aLink_PutPacket(id, packetOf(4, "\x23").get()), aErrNone);
    EXPECT_TRUE(aPacketPtr(aLink_AwaitPacket(id, 3000)));
    std::vector<LogRecord> records;
    eventually([&] {
        // The start's force route may or may not be written after the log was switched on.
        for (LogRecord& record : readLog(id)) {
            if (record.bytes[0] != char(aLINK_FORCE_ROUTE_ADDRESS))
                records.push_back(record);
        }
        return records.size() >= 5;
    });
    std::vector<LogRecord> expected = {{3, std::string("START\0", 6)},
                                       {2, std::string("\x04\x01\x17", 3)},
                                       {2, std::string("\x04\x02\x00\x00", 4)},
                                       {1, std::string("\x04\x01\x23", 3)},
                                       {1, std::string("\x04\x02\x00\x02", 4)}};
    std::sort(records.begin(), records.end(), [](auto& a, auto& b) { return a.bytes < b.bytes; });
    std::sort(expected.begin(), expected.end(), [](auto& a, auto& b) { return a.bytes < b.bytes; });
    EXPECT_EQ(records, expected);

    ASSERT_EQ(aLink_PacketDebug_Disable(id), aErrNone);
    wire.Feed(std::string("\x04\x01\x18", 3));
    EXPECT_TRUE(aPacketPtr(aLink_AwaitPacket(id, 3000)));
    EXPECT_TRUE(readLog(id).empty());
}

// The logger's thread takes the link's records out and writes one line each.
TEST_F(LinkWireTest, LoggerWritesTheLinksRecordsToItsFile) {
    id = aLink_Create(wire.Make());
    ASSERT_NE(id, 0u);
    ASSERT_EQ(aLink_PacketDebug_Enable(id), aErrNone);
    const auto path = std::filesystem::temp_directory_path() / ("qv_packets_" + std::to_string(getpid()));
    aLogger* logger = aLogger_Create(
        id,
        [](aFile* file, uint32_t linkId) {
            uint8_t bytes[64];
            uint8_t type;
            size_t length = sizeof(bytes);
            if (aLink_PacketDebug_Read(linkId, &type, &length, bytes) != aErrNone) {
                std::this_thread::sleep_for(5ms);
                return;
            }
            aFile_Printf(file, "%zu %s", length, type == aPACKETLOG_SENT ? ">" : "<");
            for (size_t i = 0; i < length; i++)
                aFile_Printf(file, " 0x%X", bytes[i]);
            aFile_Printf(file, "\n");
        },
        path.c_str());
    ASSERT_NE(logger, nullptr);
    ASSERT_EQ(aLogger_Enable(logger), aErrNone);
    wire.Feed(std::string("\x06\x02\x2A\x2B", 4));
    ASSERT_EQ(aLink_PutPacket(id, packetOf(6, "\x01").get()), aErrNone);

    std::string text;
    eventually([&] {
        std::ifstream file(path);
        text.assign(std::istreambuf_iterator<char>(file), {});
        return text.find("0x2B\n") != std::string::npos && text.find("> 0x6") != std::string::npos;
    });
    EXPECT_EQ(aLogger_Destroy(&logger), aErrNone);
    EXPECT_NE(text.find("4 < 0x6 0x2 0x2A 0x2B\n"), std::string::npos) << text;
    EXPECT_NE(text.find("3 > 0x6 0x1 0x1\n"), std::string::npos) << text;
    std::filesystem::remove(path);
}
