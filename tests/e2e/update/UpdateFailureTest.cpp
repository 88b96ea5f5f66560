#include "UpdateRig.h"

#include "SimDisguise.h"

#include <functional>

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
