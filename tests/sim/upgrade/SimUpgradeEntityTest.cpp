#include "SimUpgradeEntity.h"
#include "SimEntities.h"
#include "SimFlash.h"

#include <gtest/gtest.h>

#include <numeric>

using namespace qvsim;
using Bytes = std::vector<uint8_t>;

namespace {

constexpr uint8_t UP = SimUpgradeEntity::COMMAND;

Bytes _pattern(size_t length, uint8_t seed) {
    Bytes bytes(length);
    for (size_t i = 0; i < length; ++i) {
        bytes[i] = static_cast<uint8_t>(seed + i * 7);
    }
    return bytes;
}

Bytes _be32(uint32_t value) {
    return SimUei_Big(value, 4);
}

Bytes _join(Bytes head, const Bytes& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

// A module with the standard entities and an upgrade entity, spoken to without any transport.
struct SimUpgradeModule : ::testing::Test {
    SimModule module{SimIdentity{}};
    SimEntities entities = SimEntities::Install(module);
    std::shared_ptr<SimUpgradeEntity> upgrade = SimUpgradeEntity::Install(module, *entities.info, Settings());

    static SimUpgradeSettings Settings() {
        SimUpgradeSettings settings;
        settings.blockSize = 32;
        settings.ueiData = true;
        return settings;
    }

    SimReplies Send(const Bytes& data) {
        SimReplies replies(module.Address());
        module.Dispatch(SimPacket::Make(module.Address(), data), replies);
        return replies;
    }

    // The data of the only reply; empty when there was none.
    Bytes Ask(const Bytes& data) {
        SimReplies replies = Send(data);
        EXPECT_LE(replies.Packets().size(), 1u);
        return replies.Packets().empty() ? Bytes{} : replies.Packets().front().Data();
    }

    Bytes Status(const Bytes& data) { return Ask(data); }

    void SendPieces(const Bytes& bytes, size_t piece = 26) {
        for (size_t sent = 0; sent < bytes.size(); sent += piece) {
            Bytes data{UP, SimUpgradeEntity::STEP_DATA};
            size_t count = std::min(piece, bytes.size() - sent);
            data.insert(data.end(), bytes.begin() + sent, bytes.begin() + sent + count);
            ASSERT_EQ(Ask(data), (Bytes{UP, 1, static_cast<uint8_t>(count)}));
        }
    }

    Bytes Prepare(uint32_t address, uint8_t flags = 0) { return Ask(_join({UP, 3, flags}, _be32(address))); }

    Bytes SumReply(const Bytes& bytes) {
        return _join({UP, 7, 0}, _be32(std::accumulate(bytes.begin(), bytes.end(), uint32_t(0))));
    }

    void LoadLoader(const Bytes& loader, uint32_t address) {
        ASSERT_EQ(Ask({UP, 0}), _join({UP, 0}, _be32(0x10000000)));
        ASSERT_EQ(Prepare(address), (Bytes{UP, 7, 0, 0, 32}));
        SendPieces(loader);
        ASSERT_EQ(Ask({UP, 4}), SumReply(loader));
        ASSERT_FALSE(Ask({UP, 2}).empty());
    }
};

} // namespace

TEST_F(SimUpgradeModule, LoaderThenFirmwareEndsInFlash) {
    const Bytes loader = _pattern(60, 1);
    const Bytes image = _pattern(70, 9);
    LoadLoader(loader, 0x2000);
    EXPECT_EQ(upgrade->LoaderMemory().Read(0x2000, 60), loader);
    EXPECT_EQ(upgrade->CurrentPhase(), SimUpgradeEntity::Phase::Loader);
    EXPECT_EQ(upgrade->Flash().Size(), 0u);

    ASSERT_EQ(Prepare(0x8000, 2), (Bytes{UP, 7, 0, 0, 32}));
    for (size_t done = 0; done < image.size(); done += 32) {
        Bytes piece(image.begin() + done, image.begin() + std::min(done + 32, image.size()));
        SendPieces(piece);
        ASSERT_EQ(Ask({UP, 4}), SumReply(piece));
        ASSERT_EQ(Status({UP, 5, 0, static_cast<uint8_t>(piece.size())}), (Bytes{UP, 7, 0}));
    }
    SimReplies reboot = Send({UP, 6});
    EXPECT_TRUE(reboot.Packets().empty());
    EXPECT_TRUE(reboot.Disconnects());
    EXPECT_EQ(upgrade->CurrentPhase(), SimUpgradeEntity::Phase::Firmware);
    EXPECT_EQ(upgrade->Flash().Segments(), (std::map<uint32_t, Bytes>{{0x8000, image}}));
    SimUpgradeEvents events = upgrade->Events();
    EXPECT_EQ(events.writes, 3u);
    EXPECT_EQ(events.loaderStarts, 1u);
    EXPECT_EQ(events.reboots, 1u);
}

TEST_F(SimUpgradeModule, RefusesStepsOutOfOrder) {
    EXPECT_EQ(Prepare(0x100), (Bytes{UP, 7, 1})) << "prepare before init";
    EXPECT_EQ(Ask({UP, 4}), (Bytes{UP, 7, 1})) << "sum of nothing prepared";
    EXPECT_EQ(Ask({UP, 1, 5, 6}), (Bytes{UP, 1, 0})) << "data before prepare";
    EXPECT_TRUE(Ask({UP, 2}).empty()) << "no loader to start";
    Ask({UP, 0});
    EXPECT_TRUE(Ask({UP, 2}).empty()) << "init alone brings no loader";
    Prepare(0x100);
    SendPieces({1, 2, 3});
    EXPECT_EQ(Status({UP, 5, 0, 3}), (Bytes{UP, 7, 1})) << "write before the loader runs";
    Ask({UP, 2});
    Prepare(0x400);
    SendPieces(_pattern(30, 3));
    EXPECT_EQ(Ask({UP, 1, 1, 2, 3}), (Bytes{UP, 1, 0})) << "past the block size";
    EXPECT_EQ(Status({UP, 5, 0, 31}), (Bytes{UP, 7, 1})) << "write of more than arrived";
    EXPECT_EQ(Status({UP, 5, 0, 30}), (Bytes{UP, 7, 0}));
}

TEST_F(SimUpgradeModule, LoaderStartAndRebootAsConfigured) {
    struct Case {
        SimLoaderStart start;
        bool answers;
        bool drops;
    };
    for (const Case& c : {Case{SimLoaderStart::Keep, true, false}, Case{SimLoaderStart::Restart, true, true},
                          Case{SimLoaderStart::Silent, false, true}}) {
        SimUpgradeSettings settings = Settings();
        settings.start = c.start;
        settings.rebootDrops = false;
        upgrade->SetSettings(settings);
        Ask({UP, 0});
        Prepare(0x100);
        SendPieces({1, 2});
        SimReplies start = Send({UP, 2});
        EXPECT_EQ(start.Packets().size(), c.answers ? 1u : 0u);
        EXPECT_EQ(start.Disconnects(), c.drops);
        EXPECT_EQ(upgrade->CurrentPhase(), SimUpgradeEntity::Phase::Loader);
        EXPECT_FALSE(Send({UP, 6}).Disconnects()) << "a reboot that keeps the link";
    }
}

TEST_F(SimUpgradeModule, FaultsSpoilAnswersNotState) {
    const Bytes bytes = _pattern(20, 5);
    SimUpgradeFaults faults;
    faults.wrongSums = 1;
    faults.shortAcks = 1;
    faults.silent[SimUpgradeEntity::STEP_PREPARE] = 1;
    upgrade->SetFaults(faults);
    Ask({UP, 0});
    EXPECT_TRUE(Prepare(0x100).empty()) << "prepared but silent";
    EXPECT_EQ(Ask(_join({UP, 1}, bytes)), (Bytes{UP, 1, 19})) << "short acknowledgement";
    EXPECT_EQ(Ask({UP, 4}), _join({UP, 7, 0}, _be32(1))) << "nothing kept, and the sum is off by one";
    SendPieces(bytes);
    EXPECT_EQ(Ask({UP, 4}), SumReply(bytes)) << "the fault was used up";
}

TEST_F(SimUpgradeModule, FaultsForTheFirmwareSpareTheLoader) {
    SimUpgradeFaults faults;
    faults.wrongSums = SimUpgradeFaults::ALWAYS;
    faults.firmwareOnly = true;
    upgrade->SetFaults(faults);
    LoadLoader(_pattern(10, 1), 0x100);
    Prepare(0x400);
    SendPieces({4});
    EXPECT_EQ(Ask({UP, 4}), _join({UP, 7, 0}, _be32(5)));
}

TEST_F(SimUpgradeModule, TakesBlockBytesAsOneByteString) {
    EXPECT_EQ(Ask({73, 1, UP, 10, 0, 0x80}), (Bytes{73, 1, UP, 10, 0, 0})) << "declared to the host";
    LoadLoader({1}, 0);
    Prepare(0x100);
    const Bytes piece = _pattern(32, 4);
    // Pieces of 24 bytes with a trailer: continue flag and sequence number.
    EXPECT_TRUE(Send(_join(_join({UP, 0x8A, 0x20}, Bytes(piece.begin(), piece.begin() + 24)), {0x80}))
                    .Packets()
                    .empty());
    EXPECT_EQ(Ask(_join(_join({UP, 0x8A, 0x20}, Bytes(piece.begin() + 24, piece.end())), {0x01})),
              (Bytes{UP, 0xCA, 0}));
    EXPECT_EQ(Ask({UP, 4}), SumReply(piece));
    EXPECT_EQ(Ask(_join({UP, 0x8A, 0x20}, {7, 0})), (Bytes{UP, 0xCA, 0x80, SIM_ERR_SIZE}))
        << "past the block";

    upgrade->SetSettings(SimUpgradeSettings{});
    EXPECT_EQ(Ask({UP, 0x8A, 0x20, 7, 0}), (Bytes{UP, 0xCA, 0x80, SIM_ERR_INVALID_OPTION}))
        << "a device without the byte-string form";
}

TEST(SimFlash, JoinsTouchingAndOverlappingWrites) {
    struct Write {
        uint32_t address;
        Bytes bytes;
    };
    struct Case {
        const char* what;
        std::vector<Write> writes;
        std::map<uint32_t, Bytes> segments;
    };
    const Case cases[] = {
        {"apart", {{0, {1, 2}}, {10, {3}}}, {{0, {1, 2}}, {10, {3}}}},
        {"touching", {{4, {3, 4}}, {2, {1, 2}}}, {{2, {1, 2, 3, 4}}}},
        {"overlap replaces", {{0, {1, 2, 3}}, {1, {9}}}, {{0, {1, 9, 3}}}},
        {"bridges two", {{0, {1}}, {3, {4}}, {1, {2, 3}}}, {{0, {1, 2, 3, 4}}}},
        {"covers all", {{2, {1}}, {5, {1}}, {0, {7, 7, 7, 7, 7, 7, 7}}}, {{0, Bytes(7, 7)}}},
    };
    for (const Case& c : cases) {
        SimFlash flash;
        for (const Write& write : c.writes) {
            flash.Write(write.address, write.bytes);
        }
        EXPECT_EQ(flash.Segments(), c.segments) << c.what;
    }
    SimFlash flash;
    flash.Write(2, {5});
    EXPECT_EQ(flash.Read(0, 4), (Bytes{0xFF, 0xFF, 5, 0xFF})) << "unwritten bytes read erased";
}
