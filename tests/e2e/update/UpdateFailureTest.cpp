#include "UpdateRig.h"

#include "SimDisguise.h"
#include "Updater.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

using namespace qvtest;

namespace {

const std::string SETTINGS = "LATEST_DOWNLOAD=120.bird\n";

bool _shows(const ProcessResult& run, const std::string& text) {
    return (run.out + run.err).find(text) != std::string::npos;
}

} // namespace

// Every failure ends with its message and status 1, the device's settings as they were and nothing
// rebooted. Files that do not fit the device go in with -OVERRIDE.
TEST_F(UpdateRig, FailuresLeaveTheSettingsAlone) {
    struct Case {
        const char* what;
        std::function<void()> arrange;
        std::vector<std::string> arguments;
        std::vector<std::string> shown;
        bool overridable;
    };
    const std::string ELSEWHERE = temp / "elsewhere.bird";
    auto faults = [this](std::function<void(qvsim::SimUpgradeFaults&)> set) {
        return [this, set] {
            qvsim::SimUpgradeFaults faults;
            set(faults);
            upgrade->SetFaults(faults);
        };
    };
    const Case cases[] = {
        {"a file for another model",
         [this] { MakeBird(120, "USBHub3p").Write(StoreFile(120)); },
         {},
         {"Connected device model and Bird file model do not match [USBSwitch] (0)\n",
          "Birdfile failed validation\n"},
         true},
        {"a file for another device",
         [this] { MakeBird(120, DEVICE_MODEL_NAME, 0x0BADF00D).Write(StoreFile(120)); },
         {},
         {"Birdfile failed validation\n"},
         true},
        {"a sum that never matches",
         faults([](auto& f) {
             f.wrongSums = qvsim::SimUpgradeFaults::ALWAYS;
             f.firmwareOnly = true;
         }),
         {},
         {"  Retry 4\n", "NETWORK: Failed to transfer firmware\n",
          "Failed to transfer firmware block 1 of 2"},
         false},
        {"pieces always acknowledged short",
         faults([](auto& f) { f.shortAcks = qvsim::SimUpgradeFaults::ALWAYS; }),
         {},
         {"not accepted after 10 attempts", "Failed to transfer loader block 1 of 1"},
         false},
        {"a block size of 0",
         [this] {
             auto settings = UpgradeSettings();
             settings.blockSize = 0;
             upgrade->SetSettings(settings);
         },
         {},
         {"NETWORK: The loader announced a block size of 0", "Failed to transfer firmware block 1 of 2"},
         false},
        {"no answer to the firmware PREPARE",
         faults([](auto& f) {
             f.silent[qvsim::SimUpgradeEntity::STEP_PREPARE] = qvsim::SimUpgradeFaults::ALWAYS;
         }),
         {},
         {"Failed to transfer firmware block 1 of 2 [18, aErrTimeout]"},
         false},
        {"a device nobody answers for",
         [&] { MakeBird(120).Write(ELSEWHERE); },
         {"-d", "0BADCAFE", "-f", ELSEWHERE},
         {"Failed to connect to module [0BADCAFE]\n"},
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        store = temp / (std::string("store-") + c.what);
        MakeBird(120).Write(StoreFile(120));
        WriteSettings(SETTINGS);
        upgrade->SetSettings(UpgradeSettings());
        upgrade->SetFaults({});
        c.arrange();
        size_t reboots = upgrade->Events().reboots;
        std::vector<std::string> arguments = {"-b", "120"};
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());

        ProcessResult run = Update(arguments);
        EXPECT_EQ(run.status, 1) << run.out << run.err;
        for (const std::string& text : c.shown)
            EXPECT_TRUE(_shows(run, text)) << text << "\n" << run.out << run.err;
        EXPECT_EQ(Settings(), SETTINGS);
        EXPECT_EQ(upgrade->Events().reboots, reboots);
        if (!c.overridable)
            continue;
        arguments.push_back("-OVERRIDE");
        run = Update(arguments);
        EXPECT_EQ(run.status, 0) << run.out << run.err;
        EXPECT_EQ(upgrade->Flash().Segments(), ExpectedFlash(StoreFile(120), DEVICE_SERIAL));
    }
}

// A device whose system entity names another serial number than the one it was found by.
TEST_F(UpdateRig, RefusesADeviceThatClaimsAnotherSerialNumber) {
    qvsim::SimDisguise::Install(network.device.Module(), 0x0BADF00D, DEVICE_MODEL);
    MakeBird(120).Write(StoreFile(120));
    WriteSettings(SETTINGS);
    ProcessResult run = Update({"-b", "120"});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(_shows(run, "Birdfile failed validation\n")) << run.err;
    EXPECT_EQ(Settings(), SETTINGS);
    EXPECT_EQ(upgrade->Events().inits, 0u) << "nothing was sent to the device";

    run = Update({"-b", "120", "-OVERRIDE"});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(upgrade->Flash().Segments(), ExpectedFlash(StoreFile(120), DEVICE_SERIAL));
}

// A device that goes silent when its loader starts and never comes back: the reconnects give up within
// their bounds and the firmware is not sent.
TEST_F(UpdateRig, GivesUpOnADeviceThatDoesNotComeBackFromItsLoader) {
    auto settings = UpgradeSettings();
    settings.start = qvsim::SimLoaderStart::Silent;
    upgrade->SetSettings(settings);
    MakeBird(120).Write(StoreFile(120));
    WriteSettings(SETTINGS);
    std::atomic<bool> done{false};
    std::thread unplug([&] {
        for (int i = 0; i < 6000 && !done && upgrade->Events().loaderStarts == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        network.server.Stop();
    });
    ProcessResult run = Update({"-b", "120"});
    done = true;
    unplug.join();
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    EXPECT_FALSE(run.timedOut);
    EXPECT_TRUE(_shows(run, "Failed to transfer firmware block 1 of 2")) << run.out << run.err;
    EXPECT_EQ(Settings(), SETTINGS);
    EXPECT_EQ(upgrade->Events().prepares, 1u) << "only the loader's block was prepared";
    // The device was searched for once to connect, then once per attempt after its loader started.
    EXPECT_EQ(network.responder->RequestsAnswered(), 1u + Updater::CONNECT_ATTEMPTS);
}
