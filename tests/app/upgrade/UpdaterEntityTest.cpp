#include "UpdaterEntity.h"
#include "Log.h"
#include "RecordingDisplay.h"
#include "ServedDevice.h"
#include "SimUpgradeEntity.h"

#include <atomic>
#include <cstdio>
#include <numeric>
#include <thread>

using namespace std::chrono_literals;
using Korvalen::Quorvanta::Module;
using qvsim::SimLoaderStart;
using qvsim::SimUpgradeEntity;
using qvsim::SimUpgradeFaults;

namespace {

constexpr uint8_t UP = UpdaterEntity::cmdUPGRADE;

Bytes _pattern(size_t length, uint8_t seed) {
    Bytes bytes(length);
    for (size_t i = 0; i < length; ++i)
        bytes[i] = static_cast<uint8_t>(seed + i * 13);
    return bytes;
}

// A BIRD code block: the big-endian load address, then the image.
Bytes _block(uint32_t address, const Bytes& image) {
    Bytes block{uint8_t(address >> 24), uint8_t(address >> 16), uint8_t(address >> 8), uint8_t(address)};
    block.insert(block.end(), image.begin(), image.end());
    return block;
}

// Diagnostic log lines of the firmware packages, caught in a temporary file.
class CapturedLog {
public:
    CapturedLog() : file(std::tmpfile()) {
        Log::SetOutput(file);
        Log::ActivatePackage(DEBUG_Network_FIRM | DEBUG_Network);
    }
    ~CapturedLog() {
        Log::DeactivatePackage(DEBUG_Network_FIRM | DEBUG_Network);
        Log::SetOutput(nullptr);
        std::fclose(file);
    }
    std::string Text() {
        std::fflush(file);
        std::rewind(file);
        std::string text;
        for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file))
            text += static_cast<char>(c);
        return text;
    }

private:
    FILE* file;
};

// A served device with an upgrade entity, a module connected to it, and the host's entity on that module.
struct UpgradeExchange : ::testing::Test {
    static qvsim::SimUpgradeSettings Settings() {
        qvsim::SimUpgradeSettings settings;
        settings.start = SimLoaderStart::Keep;
        settings.ueiData = true;
        return settings;
    }

    void SetUp() override {
        ASSERT_EQ(module.setConfig(DirectConfig()), aErrNone);
        ASSERT_EQ(module.connectFromSpec(served.Spec()), aErrNone);
        entity.init(&module, 0, true, false);
    }

    // The upgrade packets the device received for one step.
    std::vector<Bytes> Received(uint8_t step) const {
        std::vector<Bytes> packets;
        for (const Bytes& packet : served.Received(UP))
            if (packet[1] == step)
                packets.push_back(packet);
        return packets;
    }

    std::vector<size_t> DataPieceSizes() const {
        std::vector<size_t> sizes;
        for (const Bytes& packet : Received(UpdaterEntity::val_UPGRADE_DATA))
            sizes.push_back(packet.size() - 2);
        return sizes;
    }

    // Sends a small loader and starts it, so the device takes firmware blocks.
    void StartLoader() {
        Bytes loader = _block(0x20000000, _pattern(30, 1));
        uint16_t blockSize = 0;
        ASSERT_EQ(entity.LoaderInit(), aErrNone);
        ASSERT_EQ(entity.TransferPrepare(loader.data(), loader.size(), 0, blockSize), aErrNone);
        ASSERT_EQ(entity.LoaderTransfer(loader.data(), loader.size()), aErrNone);
        ASSERT_EQ(entity.LoaderStart(), aErrNone);
        served.device.ClearRecord();
    }

    aErr SendFirmware(const Bytes& block, uint8_t flags = 0) {
        uint16_t blockSize = 0;
        aErr err = entity.TransferPrepare(block.data(), block.size(), flags, blockSize);
        return err != aErrNone ? err
                               : entity.FirmwareTransfer(block.data(), block.size(), blockSize, display);
    }

    ServedDevice served;
    std::shared_ptr<SimUpgradeEntity> device =
        SimUpgradeEntity::Install(served.device.Module(), *served.entities.info, Settings());
    Module module{2, uint8_t{0}};
    UpdaterEntity entity;
    RecordingDisplay display;
};

} // namespace

TEST_F(UpgradeExchange, PrepareSendsFlagsAndAddressAndTakesTheBlockSize) {
    const Bytes block = _block(0x00010000, _pattern(8, 3));
    uint16_t blockSize = 7;
    EXPECT_EQ(entity.TransferPrepare(block.data(), block.size(), 2, blockSize), aErrInvalidOption)
        << "a device refuses a PREPARE before INIT";
    EXPECT_EQ(blockSize, 7);

    ASSERT_EQ(entity.LoaderInit(), aErrNone);
    EXPECT_EQ(entity.TransferPrepare(block.data(), block.size(), 2, blockSize), aErrNone);
    EXPECT_EQ(blockSize, 512);
    EXPECT_EQ(Received(UpdaterEntity::val_UPGRADE_PREPARE).back(), (Bytes{UP, 3, 2, 0, 1, 0, 0}));
}

TEST_F(UpgradeExchange, LoaderGoesInPiecesOf26WithTheSumChecked) {
    const Bytes image = _pattern(60, 5);
    const Bytes block = _block(0x20000000, image);
    uint16_t blockSize = 0;
    ASSERT_EQ(entity.LoaderInit(), aErrNone);
    ASSERT_EQ(entity.TransferPrepare(block.data(), block.size(), 0, blockSize), aErrNone);
    EXPECT_EQ(entity.LoaderTransfer(block.data(), block.size()), aErrNone);
    EXPECT_EQ(DataPieceSizes(), (std::vector<size_t>{26, 26, 8}));
    EXPECT_EQ(Received(UpdaterEntity::val_UPGRADE_SUM).size(), 1u);
    EXPECT_TRUE(Received(UpdaterEntity::val_UPGRADE_WRITE).empty()) << "loader blocks are not written";
    EXPECT_EQ(device->LoaderMemory().Read(0x20000000, 60), image);

    entity.init(&module, 0, false, false);
    ASSERT_EQ(entity.TransferPrepare(block.data(), block.size(), 0, blockSize), aErrNone);
    EXPECT_EQ(entity.LoaderTransfer(block.data(), block.size()), aErrNone);
    EXPECT_EQ(Received(UpdaterEntity::val_UPGRADE_SUM).size(), 1u) << "no sum check without validation";
}

TEST_F(UpgradeExchange, APieceAcknowledgedShortIsSentAgainButNotForever) {
    const Bytes block = _block(0x20000000, _pattern(60, 5));
    uint16_t blockSize = 0;
    ASSERT_EQ(entity.LoaderInit(), aErrNone);
    ASSERT_EQ(entity.TransferPrepare(block.data(), block.size(), 0, blockSize), aErrNone);
    SimUpgradeFaults faults;
    faults.shortAcks = 1;
    device->SetFaults(faults);
    EXPECT_EQ(entity.LoaderTransfer(block.data(), block.size()), aErrNone);
    EXPECT_EQ(DataPieceSizes(), (std::vector<size_t>{26, 26, 26, 8}));

    served.device.ClearRecord();
    ASSERT_EQ(entity.TransferPrepare(block.data(), block.size(), 0, blockSize), aErrNone);
    faults.shortAcks = SimUpgradeFaults::ALWAYS;
    device->SetFaults(faults);
    EXPECT_EQ(entity.LoaderTransfer(block.data(), block.size()), aErrPacket);
    EXPECT_EQ(DataPieceSizes(), std::vector<size_t>(UpdaterEntity::DATA_PIECE_ATTEMPTS, 26));
    EXPECT_TRUE(Received(UpdaterEntity::val_UPGRADE_SUM).empty());
}

TEST_F(UpgradeExchange, FirmwareIsWrittenInTheAnnouncedBlockSize) {
    StartLoader();
    const Bytes image = _pattern(1000, 7);
    EXPECT_EQ(SendFirmware(_block(0x8000, image)), aErrNone);
    std::vector<Bytes> writes = Received(UpdaterEntity::val_UPGRADE_WRITE);
    EXPECT_EQ(writes, (std::vector<Bytes>{{UP, 5, 2, 0}, {UP, 5, 1, 232}}));
    EXPECT_EQ(display.progress, (std::vector<double>{516.0 / 1004, 1.0}));
    EXPECT_EQ(display.bars, (std::vector<bool>{true, false}));
    EXPECT_EQ(device->Flash().Segments(), (std::map<uint32_t, Bytes>{{0x8000, image}}));
}

TEST_F(UpgradeExchange, RefusedOrUnusableFirmwareTransfersFail) {
    StartLoader();
    const Bytes block = _block(0x8000, _pattern(100, 2));
    SimUpgradeFaults faults;
    faults.wrongSums = 1;
    device->SetFaults(faults);
    EXPECT_EQ(SendFirmware(block), aErrInvalidOption) << "wrong sum";
    EXPECT_TRUE(Received(UpdaterEntity::val_UPGRADE_WRITE).empty()) << "nothing written after a wrong sum";

    faults = {};
    faults.silent[UpdaterEntity::val_UPGRADE_WRITE] = 1;
    device->SetFaults(faults);
    EXPECT_EQ(SendFirmware(block), aErrInvalidOption) << "no answer to WRITE";

    auto settings = Settings();
    settings.blockSize = 0;
    device->SetSettings(settings);
    served.device.ClearRecord();
    EXPECT_EQ(SendFirmware(block), aErrSize) << "a block size of 0";
    EXPECT_TRUE(Received(UpdaterEntity::val_UPGRADE_DATA).empty());
}

TEST_F(UpgradeExchange, ByteStringFormWhenTheDeviceHasIt) {
    StartLoader();
    EXPECT_EQ(entity.CheckUEIDataSupport(), aErrNone);
    EXPECT_EQ(entity.CheckPooledPacketsSupport(), aErrNone);
    const Bytes image = _pattern(1000, 9);
    EXPECT_EQ(SendFirmware(_block(0x8000, image)), aErrNone);
    EXPECT_TRUE(Received(UpdaterEntity::val_UPGRADE_DATA).empty());
    EXPECT_EQ(Received(0x80 | UpdaterEntity::val_UPGRADE_DATA_UEI).size(), 22u + 21u);
    EXPECT_EQ(device->Flash().Read(0x8000, 1000), image);

    auto settings = Settings();
    settings.ueiData = false;
    device->SetSettings(settings);
    UpdaterEntity plain;
    plain.init(&module, 0, true, false);
    served.entities.info->DeclareUei(UP, UpdaterEntity::val_UPGRADE_DATA_UEI, 0, false, false);
    EXPECT_NE(plain.CheckUEIDataSupport(), aErrNone);
}

TEST_F(UpgradeExchange, FirmwareGoesThroughWithOrWithoutPooledPackets) {
    StartLoader();
    for (uint32_t features : {0x80000001u, 0x00000001u}) {
        auto system = served.entities.system->Settings();
        system.protocolFeatures = features;
        served.entities.system->SetSettings(system);
        EXPECT_EQ(entity.CheckPooledPacketsSupport(), aErrNone) << features;
        EXPECT_EQ(SendFirmware(_block(0x8000, _pattern(600, 1))), aErrNone) << features;
    }
}

TEST_F(UpgradeExchange, AShortInitReplyIsAPacketError) {
    served.device.RegisterCommand(UP, [](const qvsim::SimPacket&, qvsim::SimReplies& replies) {
        replies.Add({UP, 0, 1, 2, 3});
    });
    EXPECT_EQ(entity.LoaderInit(), aErrPacket);
}

TEST_F(UpgradeExchange, LoaderStartThatRestartsTheDevice) {
    struct Case {
        SimLoaderStart start;
        bool answerAfterReconnect;
        aErr result;
        const char* line;
    };
    const Case cases[] = {
        {SimLoaderStart::Restart, false, aErrNone, "NETWORK: Loader validated start\n"},
        {SimLoaderStart::Silent, true, aErrNone, "NETWORK: Loader validated start (Reconnect)\n"},
        {SimLoaderStart::Silent, false, aErrTimeout,
         "NETWORK: Invalid or reply when starting loader (Reconnect). [18, aErrTimeout]\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        auto settings = Settings();
        settings.start = c.start;
        device->SetSettings(settings);
        Bytes loader = _block(0x20000000, _pattern(30, 1));
        uint16_t blockSize = 0;
        ASSERT_EQ(entity.LoaderInit(), aErrNone);
        ASSERT_EQ(entity.TransferPrepare(loader.data(), loader.size(), 0, blockSize), aErrNone);
        ASSERT_EQ(entity.LoaderTransfer(loader.data(), loader.size()), aErrNone);
        size_t opened = served.device.Record().connectionsOpened;
        // A loader that answers on the new connection: its answer is sent until the host has taken it.
        std::atomic<bool> started{false};
        std::thread answer([&] {
            if (!c.answerAfterReconnect)
                return;
            served.device.WaitFor([&](const qvsim::SimRecord& r) { return r.connectionsOpened > opened; },
                                  5s);
            for (int i = 0; i < 100 && !started; ++i) {
                served.device.Emit(qvsim::SimPacket::Make(2, {UP, 2}));
                std::this_thread::sleep_for(20ms);
            }
        });
        CapturedLog log;
        EXPECT_EQ(entity.LoaderStart(), c.result);
        started = true;
        answer.join();
        EXPECT_NE(log.Text().find(c.line), std::string::npos) << log.Text();
        EXPECT_EQ(device->CurrentPhase(), SimUpgradeEntity::Phase::Loader);
        module.disconnect();
        ASSERT_EQ(module.reconnect(), aErrNone);
    }
}

// Neither TCP/IP nor a serial port shows the link dropping (their streams reconnect or wait), so what is
// tested here is the device that keeps its link: one round without waiting, else a bounded wait.
TEST_F(UpgradeExchange, RebootWaitsForTheLinkToDropWithinABound) {
    auto settings = Settings();
    settings.rebootDrops = false;
    device->SetSettings(settings);
    for (bool noRebootWait : {true, false}) {
        SCOPED_TRACE(noRebootWait);
        entity.init(&module, 0, true, noRebootWait);
        display.spinner.clear();
        CapturedLog log;
        EXPECT_EQ(entity.LoaderReboot(display), noRebootWait ? aErrNone : aErrTimeout);
        // One spinner turn per round of waiting, then the stop.
        std::vector<bool> turns(noRebootWait ? 1 : UpdaterEntity::REBOOT_WAIT_ROUNDS, true);
        turns.push_back(false);
        EXPECT_EQ(display.spinner, turns);
        EXPECT_EQ(log.Text().find("NETWORK: The device kept its link") != std::string::npos, !noRebootWait);
    }
    EXPECT_EQ(device->Events().reboots, 2u);
}
