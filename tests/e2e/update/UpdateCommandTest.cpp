#include "UpdateRig.h"

#include "SimRouter.h"

#include <regex>

using namespace qvtest;

namespace {

bool _has_line(const std::string& text, const std::string& line) {
    return ("\n" + text).find("\n" + line + "\n") != std::string::npos;
}

// The value of a settings key, or "(absent)".
std::string _setting(const std::string& settings, const std::string& key) {
    std::smatch match;
    if (std::regex_search(settings, match, std::regex("(^|\n)" + key + "=([^\n]*)\n")))
        return match[2];
    return "(absent)";
}

size_t _upgrade_packets(const qvsim::SimDevice& device, uint8_t step) {
    size_t count = 0;
    for (const auto& packet : device.Record().received)
        if (packet.length >= 2 && packet.data[0] == qvsim::SimUpgradeEntity::COMMAND &&
            packet.data[1] == step)
            ++count;
    return count;
}

} // namespace

TEST_F(UpdateRig, InstallsTheCurrentStoredBuildOverTcpip) {
    MakeBird(120).Write(ServerFile(120));
    MakeBird(120).Write(StoreFile(120));
    SetCurrentBuild(120);

    ProcessResult run = Update();
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(run.err, "");
    for (const char* line :
         {"Updating firmware with build: 120", "Transferring loader block 1 of 1, 604 bytes",
          "Starting Load on Device", "Transferring firmware block 1 of 2, 3004 bytes",
          "Transferring firmware block 2 of 2, 704 bytes", "Transferred 2 blocks, 3708 total bytes"})
        EXPECT_TRUE(_has_line(run.out, line)) << line << "\n" << run.out;
    EXPECT_TRUE(std::regex_search(run.out, std::regex("\nUpdate time: [0-9]+\\.[0-9]{4} sec\n"))) << run.out;

    EXPECT_EQ(upgrade->Flash().Segments(), ExpectedFlash(StoreFile(120), DEVICE_SERIAL));
    // The personalisation itself: the serial number word, and its text in every second descriptor byte.
    EXPECT_EQ(upgrade->Flash().Read(SERIAL_ADDRESS, 4), (Bytes{0x4D, 0x3C, 0x2B, 0x1A}));
    Bytes descriptor = upgrade->Flash().Read(DESCRIPTOR_ADDRESS, 16);
    std::string text;
    for (size_t i = 0; i < descriptor.size(); i += 2)
        text += static_cast<char>(descriptor[i]);
    EXPECT_EQ(text, "1A2B3C4D");
    EXPECT_EQ(upgrade->Events().loaderStarts, 1u);
    EXPECT_EQ(upgrade->Events().reboots, 1u);

    std::string settings = Settings();
    EXPECT_EQ(_setting(settings, "LATEST_TRANSFER"), "120.bird");
    EXPECT_EQ(_setting(settings, "LAST_TRANSFER_DATE").size(), 24u) << settings;
}

// Which build is installed when none is named: the server's current one when it is stored, else the
// latest download, else the latest installation.
TEST_F(UpdateRig, ChoosesTheBuildFromServerAndSettings) {
    struct Case {
        const char* what;
        uint32_t current; // 0: the server cannot tell
        std::vector<uint32_t> stored;
        std::string settings;
        std::vector<std::string> arguments;
        uint32_t installed; // 0: nothing
        std::vector<std::string> lines;
    };
    const std::string FILE = temp / "elsewhere.bird";
    const std::string SETTINGS = "LATEST_DOWNLOAD=120.bird\n";
    MakeBird(119).Write(FILE);
    for (uint32_t build : {117, 118, 120, 121})
        MakeBird(build).Write(ServerFile(build));
    const Case cases[] = {
        {"current and stored", 120, {118, 120}, "LATEST_DOWNLOAD=118.bird\n", {}, 120, {}},
        {"current not stored",
         121,
         {118},
         "LATEST_DOWNLOAD=118.bird\nLATEST_TRANSFER=117.bird\n",
         {},
         118,
         {"New firmware is available.  Updater will proceed if valid firmware is found locally.",
          "Updating with the Latest Download"}},
        {"no server answer",
         0,
         {117},
         "LATEST_TRANSFER=117.bird\n",
         {},
         117,
         {"Updating with the Latest Transfer"}},
        {"a named build", 120, {117, 120}, "", {"-b", "117"}, 117, {}},
        {"nothing known", 0, {}, "", {}, 0, {"Could not find valid build for this device."}},
        {"a named build not stored", 120, {120}, SETTINGS, {"-b", "123"}, 0, {"Failed to load bird file"}},
        {"a file", 120, {120}, "", {"-f", FILE}, 119, {"Updating from Birdfile: " + FILE}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        store = temp / (std::string("store-") + c.what);
        for (uint32_t build : c.stored)
            MakeBird(build).Write(StoreFile(build));
        if (!c.settings.empty())
            WriteSettings(c.settings);
        server->SetFault("qu", c.current == 0 ? UpdateServer::Fault::STATUS_500 : UpdateServer::Fault::NONE);
        if (c.current != 0)
            SetCurrentBuild(c.current);
        upgrade->SetSettings(UpgradeSettings());
        size_t reboots = upgrade->Events().reboots;
        std::string before = Settings();

        ProcessResult run = Update(c.arguments);
        std::string shown = run.out + run.err;
        for (const std::string& line : c.lines)
            EXPECT_TRUE(_has_line(shown, line)) << line << "\n" << shown;
        if (c.installed == 0) {
            EXPECT_EQ(run.status, 1) << shown;
            EXPECT_EQ(upgrade->Events().reboots, reboots);
            EXPECT_EQ(Settings(), before);
            continue;
        }
        ASSERT_EQ(run.status, 0) << shown;
        std::string installed = c.installed == 119 ? FILE : StoreFile(c.installed);
        EXPECT_EQ(upgrade->Flash().Segments(), ExpectedFlash(installed, DEVICE_SERIAL));
        EXPECT_EQ(_setting(Settings(), "LATEST_TRANSFER"),
                  c.installed == 119 ? FILE : std::to_string(c.installed) + ".bird");
    }
    // Nothing was downloaded on the way.
    for (const std::string& request : server->Requests())
        EXPECT_EQ(request.find("op=bird"), std::string::npos) << request;
}

// -G first downloads the current build, and -U then installs exactly that build.
TEST_F(UpdateRig, DownloadsAndInstallsTheCurrentBuild) {
    MakeBird(118).Write(ServerFile(118));
    MakeBird(120).Write(ServerFile(120));
    SetCurrentBuild(120);
    ProcessResult run = Run({"-G", "-U", "-d", Hex(DEVICE_SERIAL)});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(upgrade->Flash().Segments(), ExpectedFlash(StoreFile(120), DEVICE_SERIAL));
    std::string settings = Settings();
    EXPECT_EQ(_setting(settings, "LATEST_DOWNLOAD"), "120.bird");
    EXPECT_EQ(_setting(settings, "LATEST_TRANSFER"), "120.bird");
}

// A device updated from a file that the store has never seen gets its own entry for the record; no
// settings file appears in the working directory.
TEST_F(UpdateRig, RecordsAFileInstallationInTheDevicesOwnEntry) {
    const std::string FILE = temp / "loose.bird";
    MakeBird(77).Write(FILE);
    ASSERT_FALSE(std::filesystem::exists(".settings"));
    ProcessResult run = Update({"-f", FILE});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(_setting(Settings(), "LATEST_TRANSFER"), FILE);
    EXPECT_FALSE(std::filesystem::exists(".settings"));
}

TEST_F(UpdateRig, RetriesAFirmwareBlockThatFails) {
    MakeBird(120).Write(StoreFile(120));
    qvsim::SimUpgradeFaults faults;
    faults.wrongSums = 2;
    faults.firmwareOnly = true;
    upgrade->SetFaults(faults);
    ProcessResult run = Update({"-b", "120"});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    const std::string block = "Transferring firmware block 1 of 2, 3004 bytes\n";
    EXPECT_NE(run.out.find(block + block + "  Retry 1\n" + block + "  Retry 2\n" +
                           "Transferring firmware block 2 of 2"),
              std::string::npos)
        << run.out;
    EXPECT_EQ(upgrade->Flash().Segments(), ExpectedFlash(StoreFile(120), DEVICE_SERIAL));
}

// A device that takes block bytes as one byte string gets them so unless -m says otherwise.
TEST_F(UpdateRig, SendsByteStringsWhenTheDeviceTakesThem) {
    MakeBird(120).Write(StoreFile(120));
    auto settings = UpgradeSettings();
    settings.ueiData = true;
    upgrade = qvsim::SimUpgradeEntity::Install(network.device.Module(), *network.entities.info, settings);
    auto system = network.entities.system->Settings();
    system.protocolFeatures = 0x80000000;
    network.entities.system->SetSettings(system);
    for (const char* byteStrings : {"1", "0"}) {
        SCOPED_TRACE(byteStrings);
        network.device.ClearRecord();
        ProcessResult run = Update({"-b", "120", "-m", byteStrings});
        ASSERT_EQ(run.status, 0) << run.out << run.err;
        EXPECT_EQ(upgrade->Flash().Segments(), ExpectedFlash(StoreFile(120), DEVICE_SERIAL));
        bool used = byteStrings[0] == '1';
        EXPECT_EQ(_upgrade_packets(network.device, 0x80 | qvsim::SimUpgradeEntity::OPTION_DATA_UEI) > 0,
                  used);
        // The loader always goes in data packets; the firmware only without byte strings.
        EXPECT_EQ(_upgrade_packets(network.device, qvsim::SimUpgradeEntity::STEP_DATA) > 24, !used);
    }
}

// A module behind a router is found on the router's network and updated through the router's link.
TEST_F(UpdateRig, UpdatesAModuleBehindARouter) {
    constexpr uint32_t CHILD = 0x0C41D001;
    auto children = network.AddChildren({{CHILD, 10, 18, 0x2B000064, 100, "io"}});
    auto settings = UpgradeSettings();
    settings.start = qvsim::SimLoaderStart::Keep;
    settings.rebootDrops = false;
    auto childUpgrade =
        qvsim::SimUpgradeEntity::Install(*children[0].module, *children[0].entities.info, settings);
    MakeBird(120, "IOModule").Write(StoreFile(120, CHILD));

    ProcessResult run = Update({"-b", "120", "-r", Hex(DEVICE_SERIAL)}, CHILD);
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(childUpgrade->Flash().Segments(), ExpectedFlash(StoreFile(120, CHILD), CHILD));
    EXPECT_EQ(childUpgrade->Events().reboots, 1u);
    EXPECT_TRUE(upgrade->Flash().Segments().empty()) << "the router itself is left alone";
    EXPECT_EQ(_setting(Settings(CHILD), "LATEST_TRANSFER"), "120.bird");

    const std::string FILE = temp / "other.bird";
    MakeBird(120, "IOModule").Write(FILE);
    run = Update({"-f", FILE, "-r", Hex(DEVICE_SERIAL)}, 0x0BADBEEF);
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(_has_line(run.err,
                          "Module address required for indirect firmware update, could not find serial "
                          "number [0x0BADBEEF] on network"))
        << run.err;
}
