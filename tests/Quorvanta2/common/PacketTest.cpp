#include "aPacket.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct PacketHolder {
    aPacket* packet;
    explicit PacketHolder(aPacket* made) : packet(made) {}
    ~PacketHolder() {
        if (packet)
            aPacket_Destroy(&packet);
    }
};

std::vector<aErr> feed(aPacket* packet, const std::vector<uint8_t>& bytes) {
    std::vector<aErr> results;
    for (uint8_t byte : bytes)
        results.push_back(aPacket_AddByte(packet, byte));
    return results;
}

TEST(Packet, CreateStartsEmptyWithCheckWord) {
    PacketHolder held(aPacket_Create());
    ASSERT_TRUE(aVALIDPACKET(held.packet));
    EXPECT_EQ(held.packet->fillCount, 0);
    EXPECT_EQ(held.packet->address, 0);
    EXPECT_EQ(held.packet->length, 0);
    EXPECT_FALSE(aPacket_IsComplete(held.packet));
}

TEST(Packet, CreateWithDataLengths) {
    const uint8_t data[aPACKET_DATA_MAX + 1] = {1, 2, 3};
    struct Case {
        uint8_t length;
        const uint8_t* data;
        bool made;
    } cases[] = {{0, data, true}, {0, nullptr, false}, {28, data, true}, {29, data, false}};
    for (const Case& c : cases) {
        PacketHolder held(aPacket_CreateWithData(4, c.length, c.data));
        ASSERT_EQ(held.packet != nullptr, c.made) << int(c.length);
        if (!c.made)
            continue;
        EXPECT_EQ(held.packet->address, 4);
        EXPECT_EQ(held.packet->length, c.length);
        EXPECT_EQ(held.packet->fillCount, c.length + 2);
        EXPECT_TRUE(aPacket_IsComplete(held.packet));
    }
}

TEST(Packet, CopyIsIndependentAndRejectsInvalid) {
    const uint8_t data[] = {9, 8, 7};
    PacketHolder original(aPacket_CreateWithData(6, 3, data));
    PacketHolder copy(aPacket_Copy(original.packet));
    ASSERT_NE(copy.packet, nullptr);
    EXPECT_NE(copy.packet, original.packet);
    EXPECT_EQ(copy.packet->address, 6);
    EXPECT_EQ(copy.packet->length, 3);
    EXPECT_EQ(copy.packet->data[2], 7);
    EXPECT_EQ(copy.packet->data[3], 0);
    EXPECT_TRUE(aPacket_IsComplete(copy.packet));
    EXPECT_EQ(aPacket_Copy(nullptr), nullptr);
}

TEST(Packet, GettersMaskFlagsAndNeedTheByte) {
    const uint8_t data[] = {0x12, 0xC8, 0xE5};
    PacketHolder full(aPacket_CreateWithData(2, 3, data));
    PacketHolder shortPacket(aPacket_CreateWithData(2, 1, data));
    uint8_t value = 0;
    EXPECT_EQ(aPacket_GetCmd(full.packet, &value), aErrNone);
    EXPECT_EQ(value, 0x12);
    EXPECT_EQ(aPacket_GetOption(full.packet, &value), aErrNone);
    EXPECT_EQ(value, 8);
    EXPECT_EQ(aPacket_GetIndex(full.packet, &value), aErrNone);
    EXPECT_EQ(value, 5);

    EXPECT_EQ(aPacket_GetCmd(shortPacket.packet, &value), aErrNone);
    EXPECT_EQ(aPacket_GetOption(shortPacket.packet, &value), aErrPacket);
    EXPECT_EQ(aPacket_GetIndex(shortPacket.packet, &value), aErrPacket);
    EXPECT_EQ(aPacket_GetCmd(nullptr, &value), aErrPacket);
    EXPECT_EQ(aPacket_GetCmd(full.packet, nullptr), aErrParam);
}

TEST(PacketBuild, WireBytesMakeACompletePacket) {
    PacketHolder held(aPacket_Create());
    const std::vector<uint8_t> wire = {0x04, 0x03, 0x01, 0x02, 0x03};
    for (size_t i = 0; i < wire.size(); i++) {
        EXPECT_FALSE(aPacket_IsComplete(held.packet)) << i;
        EXPECT_EQ(aPacket_AddByte(held.packet, wire[i]), aErrNone) << i;
    }
    EXPECT_TRUE(aPacket_IsComplete(held.packet));
    EXPECT_EQ(held.packet->address, 4);
    EXPECT_EQ(held.packet->length, 3);
    EXPECT_EQ(held.packet->data[0], 1);
    EXPECT_EQ(held.packet->data[2], 3);
    EXPECT_EQ(aPacket_AddByte(held.packet, 0x04), aErrPacket);
}

TEST(PacketBuild, RejectedBytes) {
    struct Case {
        std::vector<uint8_t> bytes;
        std::vector<aErr> results;
    } cases[] = {
        {{0x05}, {aErrPacket}},
        {{0x00}, {aErrPacket}},
        {{0x00, 0x02}, {aErrPacket, aErrNone}}, // a refused address leaves room for the next one
        {{0x02, 29}, {aErrNone, aErrPacket}},
    };
    for (const Case& c : cases) {
        PacketHolder held(aPacket_Create());
        EXPECT_EQ(feed(held.packet, c.bytes), c.results);
    }
}

TEST(PacketBuild, LengthZeroCompletesAtOnce) {
    PacketHolder held(aPacket_Create());
    EXPECT_EQ(feed(held.packet, {0x08, 0x00}), (std::vector<aErr>{aErrNone, aErrNone}));
    EXPECT_TRUE(aPacket_IsComplete(held.packet));
    EXPECT_EQ(held.packet->fillCount, 2);
}

TEST(PacketBuild, ThirtyFirstByteOverrunsAndResetRestarts) {
    PacketHolder held(aPacket_Create());
    std::vector<uint8_t> wire = {0x02, 28};
    wire.resize(30, 0xAA);
    for (aErr result : feed(held.packet, wire))
        EXPECT_EQ(result, aErrNone);
    EXPECT_TRUE(aPacket_IsComplete(held.packet));
    EXPECT_EQ(aPacket_AddByte(held.packet, 0xAA), aErrOverrun);

    EXPECT_EQ(aPacket_Reset(held.packet), aErrNone);
    EXPECT_EQ(held.packet->fillCount, 0);
    EXPECT_EQ(held.packet->data[27], 0);
    EXPECT_EQ(feed(held.packet, {0x06, 0x01, 0x42}), (std::vector<aErr>{aErrNone, aErrNone, aErrNone}));
    EXPECT_TRUE(aPacket_IsComplete(held.packet));
}

TEST(PacketBuild, EndlessRejectedBytesStayOverrun) {
    PacketHolder held(aPacket_Create());
    for (int i = 0; i < 30; i++)
        EXPECT_EQ(aPacket_AddByte(held.packet, 0x01), aErrPacket);
    for (int i = 0; i < 300; i++)
        ASSERT_EQ(aPacket_AddByte(held.packet, 0x02), aErrOverrun) << i;
}

TEST(Packet, EveryOperationChecksTheCheckWord) {
    aPacket forged = {0x1234, 0, 0, 3, {1, 2, 3}};
    uint8_t value = 0;
    EXPECT_FALSE(aVALIDPACKET(&forged));
    EXPECT_FALSE(aVALIDPACKET(nullptr));
    EXPECT_EQ(aPacket_Copy(&forged), nullptr);
    EXPECT_EQ(aPacket_GetCmd(&forged, &value), aErrPacket);
    EXPECT_EQ(aPacket_Reset(&forged), aErrParam);
    EXPECT_EQ(aPacket_AddByte(&forged, 2), aErrParam);
    EXPECT_EQ(forged.fillCount, 0);
    EXPECT_FALSE(aPacket_IsComplete(&forged));
    aPacket* pointer = &forged;
    EXPECT_EQ(aPacket_Destroy(&pointer), aErrParam);
    EXPECT_EQ(pointer, &forged);
}

TEST(Packet, DestroyClearsTheVariable) {
    aPacket* packet = aPacket_Create();
    EXPECT_EQ(aPacket_Destroy(&packet), aErrNone);
    EXPECT_EQ(packet, nullptr);
    EXPECT_EQ(aPacket_Destroy(&packet), aErrParam);
    EXPECT_EQ(aPacket_Destroy(nullptr), aErrParam);
}

} // namespace
