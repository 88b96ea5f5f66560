#include "aUEI.h"

#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <vector>

namespace {

aPacket* packetOf(std::vector<uint8_t> data) {
    return aPacket_CreateWithData(2, static_cast<uint8_t>(data.size()), data.data());
}

struct Held {
    aPacket* packet;
    explicit Held(std::vector<uint8_t> data) : packet(packetOf(std::move(data))) {}
    ~Held() { aPacket_Destroy(&packet); }
};

TEST(UEIValues, BigEndianStoreAndRetrieve) {
    uint8_t bytes[4] = {};
    aUEI_StoreInt(bytes, 0x12345678);
    EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + 4), (std::vector<uint8_t>{0x12, 0x34, 0x56, 0x78}));
    EXPECT_EQ(aUEI_RetrieveInt(bytes), 0x12345678u);

    const uint8_t shortBytes[] = {0xAB, 0xCD};
    EXPECT_EQ(aUEI_RetrieveShort(shortBytes), 0xABCD);
    aUEI_StoreShort(bytes, 0xFE01);
    EXPECT_EQ(bytes[0], 0xFE);
    EXPECT_EQ(bytes[1], 0x01);
}

TEST(UEIValues, ModifyIntBufferReadsBigEndianWords) {
    const uint8_t wire[] = {0x12, 0x34, 0x56, 0x78, 0x00, 0x00, 0x01, 0x02};
    uint32_t words[2];
    memcpy(words, wire, sizeof(words));
    aUEI_ModifyIntBuffer(words, 2);
    EXPECT_EQ(words[0], 0x12345678u);
    EXPECT_EQ(words[1], 0x0102u);
}

TEST(UEIPacket, BytesTrailer) {
    Held middle({0x03, 0x08, 0x00, 0x81});
    EXPECT_EQ(aUEI_getBytesSequence(middle.packet), 1);
    EXPECT_EQ(aUEI_getBytesContinue(middle.packet), 1);
    Held last({0x03, 0x08, 0x00, 0xAA, 0x7F});
    EXPECT_EQ(aUEI_getBytesSequence(last.packet), 0x7F);
    EXPECT_EQ(aUEI_getBytesContinue(last.packet), 0);
    EXPECT_EQ(aUEI_getBytesSequence(nullptr), 0);
    EXPECT_EQ(aUEI_getBytesContinue(nullptr), 0);
}

TEST(UEIPacket, FullBytesPacketLengths) {
    for (uint8_t length = 0; length <= aPACKET_DATA_MAX; length++) {
        Held held(std::vector<uint8_t>(length, 1));
        EXPECT_EQ(aUEI_getBytesFullPacket(held.packet), length >= 27) << int(length);
    }
    EXPECT_FALSE(aUEI_getBytesFullPacket(nullptr));
}

TEST(UEIPacket, PayloadByCommand) {
    struct Case {
        uint8_t command;
        bool payload;
    } cases[] = {{0, false},  {1, false},  {3, true},  {9, false},   {10, true},
                 {73, false}, {95, false}, {96, true}, {173, false}, {175, false}};
    for (const Case& c : cases) {
        Held held({c.command, 0, 0});
        EXPECT_EQ(aUEI_isUEIPayload(held.packet), c.payload) << int(c.command);
        EXPECT_EQ(aUEI_isNotUEIPayload(held.packet), !c.payload) << int(c.command);
    }
    EXPECT_FALSE(aUEI_isNotUEIPayload(nullptr));
}

TEST(UEIPacket, StreamPackets) {
    struct Case {
        std::vector<uint8_t> data;
        bool stream;
    } cases[] = {
        {{0x03, 0x05, 0x41, 0x01, 0x00}, true},  {{0x03, 0x05, 0x41, 0x00}, false}, // too short
        {{0x03, 0x45, 0x41, 0x01, 0x00}, false}, // a get request, not a device value
        {{0x03, 0x05, 0x01, 0x01, 0x00}, false}, // no stream flag
        {{73, 0x05, 0x41, 0x01, 0x00}, false},   // link command without UEI payload
    };
    for (const Case& c : cases) {
        Held held(c.data);
        EXPECT_EQ(aUEI_isStreamPacket(held.packet), c.stream) << int(c.data[1]) << " " << c.data.size();
    }
    EXPECT_FALSE(aUEI_isStreamPacket(nullptr));
}

struct Sent {
    std::vector<std::vector<uint8_t>> packets;
    size_t failAt = SIZE_MAX;
};

aErr collect(const aPacket* packet, void* ref) {
    Sent* sent = static_cast<Sent*>(ref);
    if (sent->packets.size() == sent->failAt)
        return aErrTimeout;
    EXPECT_EQ(packet->address, 4);
    sent->packets.emplace_back(packet->data, packet->data + packet->length);
    return aErrNone;
}

std::vector<uint8_t> countingBytes(size_t length) {
    std::vector<uint8_t> bytes(length);
    std::iota(bytes.begin(), bytes.end(), uint8_t{0});
    return bytes;
}

TEST(UEIBytesSend, CutsIntoPiecesWithTrailers) {
    struct Case {
        size_t length;
        std::vector<size_t> lengths;
        std::vector<uint8_t> trailers;
    } cases[] = {
        {50, {28, 28, 6}, {0x80, 0x81, 0x02}},
        {24, {28}, {0x00}},
        {25, {28, 5}, {0x80, 0x01}},
        {0, {4}, {0x00}},
    };
    for (const Case& c : cases) {
        const std::vector<uint8_t> bytes = countingBytes(c.length);
        Sent sent;
        EXPECT_EQ(aUEI_SendBytes(4, 0x11, 0x8A, 0x21, bytes.data(), bytes.size(), collect, &sent), aErrNone);
        ASSERT_EQ(sent.packets.size(), c.lengths.size()) << c.length;
        std::vector<uint8_t> joined;
        for (size_t i = 0; i < sent.packets.size(); i++) {
            const std::vector<uint8_t>& data = sent.packets[i];
            ASSERT_EQ(data.size(), c.lengths[i]);
            EXPECT_EQ(std::vector<uint8_t>(data.begin(), data.begin() + 3),
                      (std::vector<uint8_t>{0x11, 0x8A, 0x21}));
            EXPECT_EQ(data.back(), c.trailers[i]);
            joined.insert(joined.end(), data.begin() + 3, data.end() - 1);
        }
        EXPECT_EQ(joined, bytes);
    }
}

TEST(UEIBytesSend, SequenceWrapsAfter127) {
    const std::vector<uint8_t> bytes = countingBytes(24 * 130);
    Sent sent;
    ASSERT_EQ(aUEI_SendBytes(4, 1, 2, 3, bytes.data(), bytes.size(), collect, &sent), aErrNone);
    ASSERT_EQ(sent.packets.size(), 130u);
    EXPECT_EQ(sent.packets[127].back(), 0x80 | 127);
    EXPECT_EQ(sent.packets[128].back(), 0x80 | 0);
    EXPECT_EQ(sent.packets[129].back(), 1);
}

TEST(UEIBytesSend, StopsAtTheFirstError) {
    const std::vector<uint8_t> bytes = countingBytes(100);
    Sent sent;
    sent.failAt = 1;
    EXPECT_EQ(aUEI_SendBytes(4, 1, 2, 3, bytes.data(), bytes.size(), collect, &sent), aErrTimeout);
    EXPECT_EQ(sent.packets.size(), 1u);
    EXPECT_EQ(aUEI_SendBytes(4, 1, 2, 3, nullptr, 5, collect, &sent), aErrParam);
    EXPECT_EQ(aUEI_SendBytes(4, 1, 2, 3, bytes.data(), 5, nullptr, nullptr), aErrParam);
}

} // namespace
