#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <thread>

#include "packetfifo.h"

namespace {

using Clock = std::chrono::steady_clock;

aPacketPtr makePacket(uint8_t tag) {
    uint8_t data[] = {tag};
    return aPacketPtr(aPacket_CreateWithData(2, 1, data));
}

uint8_t tagOf(const aPacketPtr& packet) {
    return packet ? packet->data[0] : 0;
}

class PacketFifoTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(id, 0u); }
    void TearDown() override {
        if (id != 0)
            aPacketFifo_Destroy(&id);
    }
    void put(uint8_t tag) { ASSERT_EQ(aPacketFifo_Put(id, makePacket(tag).get()), aErrNone); }

    aPacketFifoId id = aPacketFifo_Create();
};

bool matchTag(const aPacket* packet, void* context) {
    return packet->data[0] == *static_cast<uint8_t*>(context);
}

bool evenTag(const aPacket* packet, void*) {
    return packet->data[0] % 2 == 0;
}

} // namespace

TEST(PacketFifoIds, AreHandedOutInOrderAndNeverZero) {
    aPacketFifoId first = aPacketFifo_Create();
    aPacketFifoId second = aPacketFifo_Create();
    EXPECT_NE(first, 0u);
    EXPECT_EQ(second, first + 1);
    aPacketFifo_Destroy(&first);
    aPacketFifo_Destroy(&second);
    EXPECT_EQ(first, 0u);
}

TEST_F(PacketFifoTest, GetTakesTheOldestCopyAndLeavesTheRest) {
    aPacketPtr mine = makePacket(1);
    ASSERT_EQ(aPacketFifo_Put(id, mine.get()), aErrNone);
    mine->data[0] = 9;
    put(2);
    aPacketPtr got(aPacketFifo_Get(id));
    EXPECT_EQ(tagOf(got), 1);
    EXPECT_NE(got.get(), mine.get());
    EXPECT_EQ(aPacketFifo_GetLength(id), 1u);
}

TEST_F(PacketFifoTest, RefusesUnknownIdsAndDamagedPackets) {
    aPacketPtr damaged = makePacket(1);
    damaged->check = 0x1234;
    EXPECT_EQ(aPacketFifo_Put(id, damaged.get()), aErrParam);
    EXPECT_EQ(aPacketFifo_Put(id, nullptr), aErrParam);
    EXPECT_EQ(aPacketFifo_GetLength(id), 0u);
    damaged->check = 0xBEEF;
    EXPECT_EQ(aPacketFifo_Put(id + 1000, damaged.get()), aErrParam);
    EXPECT_EQ(aPacketFifo_Get(id + 1000), nullptr);
    EXPECT_EQ(aPacketFifo_Destroy(nullptr), aErrParam);
}

TEST_F(PacketFifoTest, AwaitReturnsAtOnceWhenEmptyAndWakesForAPut) {
    EXPECT_EQ(aPacketFifo_Await(id, 0), nullptr);
    std::thread producer([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        put(7);
    });
    aPacketPtr got(aPacketFifo_Await(id, 5000));
    producer.join();
    EXPECT_EQ(tagOf(got), 7);
}

TEST_F(PacketFifoTest, OverflowEmptiesTheFifoWithoutAnError) {
    for (int i = 0; i < 1000; i++)
        put(static_cast<uint8_t>(i));
    EXPECT_EQ(aPacketFifo_GetLength(id), 1000u);
    put(1);
    EXPECT_EQ(aPacketFifo_GetLength(id), 0u);
    put(2);
    EXPECT_EQ(tagOf(aPacketPtr(aPacketFifo_Get(id))), 2);
}

TEST_F(PacketFifoTest, FilteredAwaitOffersEachPacketOnce) {
    struct Counting {
        std::map<uint8_t, int> offers;
        uint8_t wanted;
    } counting{{}, 3};
    auto filter = [](const aPacket* packet, void* context) {
        auto* c = static_cast<Counting*>(context);
        c->offers[packet->data[0]]++;
        return packet->data[0] == c->wanted;
    };
    put(1);
    std::thread producer([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        put(2);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        put(3);
    });
    aPacketPtr got(aPacketFifo_AwaitFirst(id, filter, &counting, 5000));
    producer.join();
    EXPECT_EQ(tagOf(got), 3);
    EXPECT_EQ(counting.offers, (std::map<uint8_t, int>{{1, 1}, {2, 1}, {3, 1}}));
    EXPECT_EQ(aPacketFifo_GetLength(id), 2u);
}

TEST_F(PacketFifoTest, FilteredGetTakesTheOldestMatchOnly) {
    put(1);
    put(4);
    put(6);
    uint8_t wanted = 6;
    EXPECT_EQ(tagOf(aPacketPtr(aPacketFifo_GetFirst(id, evenTag, nullptr))), 4);
    EXPECT_EQ(tagOf(aPacketPtr(aPacketFifo_GetFirst(id, matchTag, &wanted))), 6);
    EXPECT_EQ(aPacketFifo_GetFirst(id, matchTag, &wanted), nullptr);
    EXPECT_EQ(aPacketFifo_AwaitFirst(id, matchTag, &wanted, 20), nullptr);
    EXPECT_EQ(aPacketFifo_GetLength(id), 1u);
}

TEST_F(PacketFifoTest, DrainRemovesMatchesAndKeepsTheOrderOfTheRest) {
    for (uint8_t tag : {1, 2, 3, 4, 5})
        put(tag);
    EXPECT_EQ(aPacketFifo_DrainPackets(id, evenTag, nullptr), 2u);
    for (uint8_t tag : {1, 3, 5})
        EXPECT_EQ(tagOf(aPacketPtr(aPacketFifo_Get(id))), tag);
    EXPECT_EQ(aPacketFifo_DrainPackets(id + 1000, evenTag, nullptr), 0u);
}

// A destroyed FIFO must release its waiters at once rather than at their time-outs.
TEST_F(PacketFifoTest, DestroyWakesWaitersAndForgetsTheId) {
    const aPacketFifoId kept = id;
    uint8_t wanted = 9;
    Clock::duration plainWait{}, filteredWait{};
    aPacket* plain = reinterpret_cast<aPacket*>(1);
    aPacket* filtered = reinterpret_cast<aPacket*>(1);
    std::thread waiter([&] {
        auto start = Clock::now();
        plain = aPacketFifo_Await(kept, 10000);
        plainWait = Clock::now() - start;
    });
    std::thread filteredWaiter([&] {
        auto start = Clock::now();
        filtered = aPacketFifo_AwaitFirst(kept, matchTag, &wanted, 10000);
        filteredWait = Clock::now() - start;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_EQ(aPacketFifo_Destroy(&id), aErrNone);
    waiter.join();
    filteredWaiter.join();
    EXPECT_EQ(id, 0u);
    EXPECT_EQ(plain, nullptr);
    EXPECT_EQ(filtered, nullptr);
    EXPECT_LT(plainWait, std::chrono::seconds(5));
    EXPECT_LT(filteredWait, std::chrono::seconds(5));
    aPacketFifoId gone = kept;
    EXPECT_EQ(aPacketFifo_Destroy(&gone), aErrNotFound);
    EXPECT_EQ(aPacketFifo_Put(kept, makePacket(1).get()), aErrParam);
}
