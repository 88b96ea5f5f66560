#ifndef TESTS_E2E_UPDATERIG_H
#define TESTS_E2E_UPDATERIG_H

#include "BirdWriter.h"
#include "NetworkDevice.h"
#include "RunProcess.h"
#include "SimUpgradeEntity.h"
#include "TempDirectory.h"
#include "UpdateServer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace qvtest {

using Bytes = std::vector<uint8_t>;
using Flash = std::map<uint32_t, Bytes>;

constexpr uint32_t DEVICE_SERIAL = 0x1A2B3C4D;
constexpr uint8_t DEVICE_MODEL = 13;
const std::string DEVICE_MODEL_NAME = "USBSwitch";
// Where a generic image keeps the serial number word and the descriptor text.
constexpr uint32_t FIRMWARE_ADDRESS = 0x00010000;
constexpr uint32_t SERIAL_ADDRESS = 0x00010100;
constexpr uint32_t DESCRIPTOR_ADDRESS = 0x00010200;
constexpr uint32_t SECOND_BLOCK_ADDRESS = 0x00030000;

std::string Hex(uint32_t serial);

// A BIRD file of a build: a loader, two firmware blocks whose bytes depend on the build, and the info
// record. Generic images carry the serial-number places and no serial number of their own.
BirdWriter MakeBird(uint32_t build, const std::string& model = DEVICE_MODEL_NAME, uint32_t serial = 0);

// What the device's flash must hold after installing the file: its firmware images, personalised with
// the serial number when the file is generic.
Flash ExpectedFlash(const std::string& path, uint32_t serial);

// A simulated device on the namespace's network with an upgrade entity, a local update server, and the
// updater's store, all in one temporary directory.
class UpdateRig : public ::testing::Test {
protected:
    UpdateRig();

    static qvsim::SimUpgradeSettings UpgradeSettings();

    std::filesystem::path Root() const;
    // Files of the server (ROOT/SERIAL/BUILD.bird), and of the store the updater keeps under -i.
    std::string DeviceDirectory(uint32_t serial = DEVICE_SERIAL) const;
    std::string ServerFile(uint32_t build, uint32_t serial = DEVICE_SERIAL) const;
    std::string StoreFile(uint32_t build, uint32_t serial = DEVICE_SERIAL) const;
    void SetCurrentBuild(uint32_t build, uint32_t serial = DEVICE_SERIAL) const;
    std::string SettingsPath(uint32_t serial = DEVICE_SERIAL) const;
    void WriteSettings(const std::string& text, uint32_t serial = DEVICE_SERIAL) const;
    std::string Settings(uint32_t serial = DEVICE_SERIAL) const;

    // updater -U -d DEVICE -u SERVER -i STORE, then the further arguments.
    ProcessResult Update(const std::vector<std::string>& arguments = {}, uint32_t serial = DEVICE_SERIAL);
    ProcessResult Run(const std::vector<std::string>& arguments);

    TempDirectory temp;
    std::string store;
    NetworkDevice network;
    std::shared_ptr<qvsim::SimUpgradeEntity> upgrade;
    std::unique_ptr<UpdateServer> server;
};

} // namespace qvtest

#endif
