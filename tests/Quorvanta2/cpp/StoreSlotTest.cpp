#include "ServedDevice.h"

#include <numeric>

using namespace Korvalen::Quorvanta;

namespace {

Bytes _counting(size_t length) {
    Bytes bytes(length);
    std::iota(bytes.begin(), bytes.end(), uint8_t{1});
    return bytes;
}

} // namespace

TEST_F(ConnectedModule, StoreSlotRoundTripInPieces) {
    const Bytes data = _counting(60);
    ASSERT_EQ(link().loadStoreSlot(2, 0, 1, data.data(), data.size()), aErrNone);
    EXPECT_EQ(served.entities.store->Contents(0, 1), data);
    std::vector<size_t> writes;
    for (const auto& packet : served.Received(4)) {
        if (packet[1] == 7) {
            writes.push_back(packet.size() - 3);
        }
    }
    EXPECT_EQ(writes, (std::vector<size_t>{25, 25, 10}));

    uint64_t value = 0;
    EXPECT_EQ(link().storeSlotSize(2, 0, 1, &value), aErrNone);
    EXPECT_EQ(value, 60u);
    EXPECT_EQ(link().storeSlotCapacity(2, 0, 1, &value), aErrNone);
    EXPECT_EQ(value, 1024u);

    Bytes back(100);
    uint64_t unloaded = 0;
    ASSERT_EQ(link().unloadStoreSlot(2, 0, 1, back.data(), back.size(), &unloaded), aErrNone);
    back.resize(unloaded);
    EXPECT_EQ(back, data);

    Bytes small(10);
    EXPECT_EQ(link().unloadStoreSlot(2, 0, 1, small.data(), small.size(), &unloaded), aErrOverrun);
    EXPECT_EQ(unloaded, 10u);
    EXPECT_EQ(small, Bytes(data.begin(), data.begin() + 10));
    EXPECT_EQ(served.entities.store->OpenHandles(), 0u) << "every slot closed again";
}

TEST_F(ConnectedModule, StoreSlotRefusals) {
    const Bytes data = _counting(30);
    served.entities.store->AddSlot(0, 2, 40, data);
    uint64_t value = 7;
    Bytes buffer(64);
    const Bytes tooMuch(41, 1);
    const struct {
        const char* what;
        std::function<aErr()> operation;
        aErr expected;
    } cases[] = {
        {"size of an unknown slot", [&] { return link().storeSlotSize(2, 1, 0, &value); }, aErrIndexRange},
        {"capacity of an unknown slot", [&] { return link().storeSlotCapacity(2, 0, 9, &value); },
         aErrIndexRange},
        {"load into an unknown slot", [&] { return link().loadStoreSlot(2, 1, 0, data.data(), 30); },
         aErrMedia},
        {"unload from an unknown slot",
         [&] { return link().unloadStoreSlot(2, 1, 0, buffer.data(), buffer.size(), &value); },
         aErrIndexRange},
        {"load past the capacity",
         [&] { return link().loadStoreSlot(2, 0, 2, tooMuch.data(), tooMuch.size()); }, aErrOverrun},
        {"empty load", [&] { return link().loadStoreSlot(2, 0, 3, nullptr, 0); }, aErrNone},
        {"unload of an empty slot",
         [&] { return link().unloadStoreSlot(2, 0, 3, buffer.data(), buffer.size(), &value); }, aErrNone},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.operation(), c.expected) << c.what;
    }
    EXPECT_EQ(value, 0u);
    EXPECT_EQ(served.entities.store->Contents(0, 2), data) << "a refused load leaves the slot as it was";
    EXPECT_EQ(served.entities.store->OpenHandles(), 0u);

    served.device.Faults().DropRepliesTo(4);
    EXPECT_EQ(link().storeSlotSize(2, 0, 2, &value), aErrTimeout);
    EXPECT_EQ(link().loadStoreSlot(2, 0, 2, data.data(), 30), aErrMedia) << "not opened";
}

TEST_F(ConnectedModule, StoreSlotWrongSumStillCloses) {
    served.device.RegisterCommand(4, [](const qvsim::SimPacket& request, qvsim::SimReplies& out) {
        Bytes data = request.Data();
        switch (data[1]) {
        case 4:
            return out.Add({4, 4, data[2], data[3], 5});
        case 7:
            return out.Add({4, 7, 5, 0});
        case 8:
            return out.Add({4, 8, 5, 0});
        }
    });
    const Bytes data = _counting(60);
    EXPECT_EQ(link().loadStoreSlot(2, 0, 0, data.data(), data.size()), aErrIO);
    auto packets = served.Received(4);
    ASSERT_EQ(packets.size(), 3u) << "open, the first piece, close";
    EXPECT_EQ(packets.back(), (Bytes{4, 8, 5}));
}

TEST_F(ConnectedModule, FactoryDataRoundTrip) {
    const Bytes data = _counting(60);
    ASSERT_EQ(link().setFactoryData(2, 3, data.data(), data.size()), aErrNone);
    EXPECT_EQ(served.entities.factory->Data(3), data);
    std::vector<std::pair<uint8_t, size_t>> packets;
    for (const auto& packet : served.Received(94)) {
        packets.emplace_back(packet[1], packet.size());
    }
    EXPECT_EQ(packets,
              (std::vector<std::pair<uint8_t, size_t>>{{0x53, 28}, {0x13, 28}, {0x13, 10}, {0x20, 4}}));
    EXPECT_EQ(served.Received(94).back(), (Bytes{94, 0x20, 0, 60}));

    Bytes back(61);
    uint64_t unloaded = 0;
    ASSERT_EQ(link().getFactoryData(2, 3, back.data(), back.size(), &unloaded), aErrNone);
    EXPECT_EQ(unloaded, 60u);
    back.resize(unloaded);
    EXPECT_EQ(back, data);

    Bytes exact(60);
    EXPECT_EQ(link().getFactoryData(2, 3, exact.data(), exact.size(), &unloaded), aErrOverrun)
        << "the buffer must be larger than the data";

    // A whole number of full pieces ends with an empty one.
    served.entities.factory->SetData(4, Bytes(52, 0x42));
    ASSERT_EQ(link().getFactoryData(2, 4, back.data(), back.size(), &unloaded), aErrNone);
    EXPECT_EQ(unloaded, 52u);
    ASSERT_EQ(link().getFactoryData(2, 5, back.data(), back.size(), &unloaded), aErrNone);
    EXPECT_EQ(unloaded, 0u);
}

TEST_F(ConnectedModule, FactoryDataRefusals) {
    Bytes buffer(600);
    uint64_t unloaded = 99;
    EXPECT_EQ(link().getFactoryData(2, 16, buffer.data(), buffer.size(), &unloaded), aErrParam);
    EXPECT_EQ(link().setFactoryData(2, 16, buffer.data(), 1), aErrParam);
    EXPECT_EQ(link().setFactoryData(2, 1, buffer.data(), 600), aErrOverrun) << "past the device's capacity";
    EXPECT_TRUE(served.entities.factory->Data(1).empty());
    EXPECT_EQ(link().setFactoryData(2, 1, nullptr, 0), aErrNone);

    served.device.RegisterCommand(94, [](const qvsim::SimPacket& request, qvsim::SimReplies& out) {
        out.Add({94, static_cast<uint8_t>((request.data[1] & 0x0F) | 0x80), aErrBusy});
    });
    EXPECT_EQ(link().getFactoryData(2, 1, buffer.data(), 2, &unloaded), aErrBusy)
        << "the refusal, not the room";
    EXPECT_EQ(unloaded, 99u);

    served.device.Faults().DropRepliesTo(94);
    EXPECT_EQ(link().setFactoryData(2, 1, buffer.data(), 4), aErrTimeout);
}
