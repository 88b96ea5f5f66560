#include "BirdWriter.h"
#include "HTTPRequest.h"
#include "RecordingDisplay.h"
#include "ServedCatalogue.h"
#include "TempDirectory.h"
#include "Updater.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Requests = std::vector<std::string>;

const std::string DEVICE = ServedCatalogue::DEVICE_TEXT;

class UpdaterAcquisition : public ::testing::Test {
protected:
    std::string DeviceDirectory() { return store / DEVICE; }

    ServedCatalogue catalogue;
    TempDirectory store;
    RecordingDisplay display;
    Updater updater{catalogue.Url(), store.Path(), display};
};

TEST_F(UpdaterAcquisition, BuildTextMustStartWithDigits) {
    EXPECT_EQ(updater.Download_Firmware(ServedCatalogue::DEVICE, "abc", true, false), 0u);
    EXPECT_EQ(display.errors, std::vector<std::string>{"Build number 'abc' must be an number"});
    EXPECT_EQ(updater.Download_Firmware(0, "", true, false), 0u);
    EXPECT_EQ(display.errors.back(), "Serial Number must be non-zero");
    EXPECT_TRUE(catalogue.Server().Requests().empty());

    // Only the leading digits count.
    EXPECT_EQ(updater.Download_Firmware(ServedCatalogue::DEVICE, "4567abc", false, true), 4567u);
    EXPECT_EQ(catalogue.Server().Requests().back(),
              "GET /cgi/u?bld=4567&fw=quorvanta&no_cal=true&op=bird&sn=" + DEVICE + "&");
}

TEST_F(UpdaterAcquisition, DownloadByChipIdentifier) {
    EXPECT_EQ(updater.Download_Firmware(Fingerprint{1, 2, 3, 4}, "", false), 4567u);
    Requests requests = catalogue.Server().Requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests.front(), "GET /cgi/u?brief=true&fp=00000001%2000000002%2000000003%2000000004&op=fix&");
    EXPECT_EQ(requests.back(), BirdRequest(DEVICE, 4567));
    EXPECT_TRUE(std::filesystem::exists(DeviceDirectory() + "/4567.bird"));

    EXPECT_EQ(updater.Download_Firmware(Fingerprint{9, 9, 9, 9}, "", false), 0u);
    EXPECT_EQ(display.errors.back(), "Failed to retrieve recovery information from Korvalen update server");
}

// While the transfer stalls the caller keeps the spinner turning, and stops it when the transfer ends.
TEST_F(UpdaterAcquisition, SpinnerTurnsWhileTheDownloadRuns) {
    HTTPRequest::Limits limits = HTTPRequest::GetLimits();
    HTTPRequest::SetLimits({5000, 1, 1});
    catalogue.Server().SetFault("bird", UpdateServer::Fault::HANG);
    EXPECT_EQ(updater.Download_Firmware(ServedCatalogue::DEVICE, "", false, false), 0u);
    HTTPRequest::SetLimits(limits);

    ASSERT_GE(display.spinner.size(), 4u);
    EXPECT_TRUE(std::all_of(display.spinner.begin(), display.spinner.end() - 1,
                            [](bool running) { return running; }));
    EXPECT_FALSE(display.spinner.back());
    EXPECT_EQ(display.errors,
              (std::vector<std::string>{"Download failed", "Failed to retrieve a valid BIRD file"}));
}

TEST_F(UpdaterAcquisition, LoadBirdFromAPathIgnoresTheStore) {
    std::string path = store / "given.bird";
    BirdWriter::WriteBytes(path, ServedCatalogue::BuildBytes(77, "7.7.7"));
    BirdFile file = updater.load_bird("Install", path, ServedCatalogue::DEVICE, 4567, true);
    EXPECT_EQ(file.GetBuild(), 77u);
    EXPECT_EQ(display.infos, std::vector<std::string>{"Install from Birdfile: " + path});
    EXPECT_FALSE(std::filesystem::exists(DeviceDirectory()));
    EXPECT_TRUE(catalogue.Server().Requests().empty());
}

TEST_F(UpdaterAcquisition, LoadBirdDownloadsAMissingBuildOnlyWhenAllowed) {
    try {
        updater.load_bird("Install", "", ServedCatalogue::DEVICE, 4590, false);
        FAIL() << "no exception";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "Error reading birdfile");
    }
    EXPECT_TRUE(catalogue.Server().Requests().empty());

    BirdFile file = updater.load_bird("Install", "", ServedCatalogue::DEVICE, 4590, true);
    EXPECT_EQ(file.GetVersion(), "1.9.0");
    EXPECT_EQ(catalogue.Server().Requests().back(), BirdRequest(DEVICE, 4590));
    EXPECT_NE(std::find(display.infos.begin(), display.infos.end(), "Downloading firmware build 4590"),
              display.infos.end());

    // Now stored: no second download.
    size_t requests = catalogue.Server().Requests().size();
    EXPECT_EQ(updater.load_bird("Install", "", ServedCatalogue::DEVICE, 4590, true).GetBuild(), 4590u);
    EXPECT_EQ(catalogue.Server().Requests().size(), requests);
}

TEST_F(UpdaterAcquisition, StoreThatCannotBeOpened) {
    WriteWholeFile(store / "file", "");
    Updater broken(catalogue.Url(), store / "file", display);
    EXPECT_TRUE(broken.Get_BuildListLocal(ServedCatalogue::DEVICE).empty());
    EXPECT_EQ(display.errors,
              std::vector<std::string>{
                  "Failed to Create UpdaterStore in: Get_BuildListLocal - Exception: UpdaterStore: " +
                  (store / "file") + " exists and is a file"});
}

} // namespace
