#include "UpdateRig.h"

#include "BirdFile.h"

#include <cstdio>
#include <filesystem>

namespace qvtest {

namespace {

constexpr uint32_t LOADER_ADDRESS = 0x20000000;
constexpr int UPDATE_TIMEOUT_MS = 90000;

} // namespace

std::string Hex(uint32_t serial) {
    char text[9];
    std::snprintf(text, sizeof text, "%08X", serial);
    return text;
}

BirdWriter MakeBird(uint32_t build, const std::string& model, uint32_t serial) {
    BirdWriter writer;
    writer.AddCode(BirdWriter::TYPE_LOADER, LOADER_ADDRESS, BirdWriter::PatternImage(600, build + 1000))
        .AddCode(BirdWriter::TYPE_FIRMWARE, FIRMWARE_ADDRESS, BirdWriter::PatternImage(3000, build))
        .AddCode(BirdWriter::TYPE_FIRMWARE, SECOND_BLOCK_ADDRESS, BirdWriter::PatternImage(700, build + 2000))
        .AddInfo(build, "2.11." + std::to_string(build), serial, model);
    if (serial == 0)
        writer.AddSerialOffsets(SERIAL_ADDRESS, DESCRIPTOR_ADDRESS);
    return writer;
}

Flash ExpectedFlash(const std::string& path, uint32_t serial) {
    BirdFile file(path);
    if (file.hasSerialNumberBlock)
        file.ReplaceSerialNumber(serial);
    Flash flash;
    for (const BirdBlock& block : file.FindBlocks(BirdFile::BLOCK_FIRMWARE))
        flash[block.address] = Bytes(block.Image(), block.Image() + block.ImageLength());
    return flash;
}

UpdateRig::UpdateRig()
    : store(temp / "store"), network({DEVICE_SERIAL, 2, DEVICE_MODEL, 0x2B000064, 100, "bench switch"}),
      upgrade(qvsim::SimUpgradeEntity::Install(network.device.Module(), *network.entities.info,
                                               UpgradeSettings())) {
    std::filesystem::create_directories(Root());
    UpdateServer::Options options;
    options.root = Root().string();
    server = std::make_unique<UpdateServer>(options);
    server->Start();
}

qvsim::SimUpgradeSettings UpdateRig::UpgradeSettings() {
    qvsim::SimUpgradeSettings settings;
    settings.blockSize = 1024;
    settings.start = qvsim::SimLoaderStart::Restart;
    return settings;
}

std::filesystem::path UpdateRig::Root() const {
    return std::filesystem::path(temp.Path()) / "server";
}

std::string UpdateRig::ServerFile(uint32_t build, uint32_t serial) const {
    std::filesystem::create_directories(Root() / Hex(serial));
    return (Root() / Hex(serial) / (std::to_string(build) + ".bird")).string();
}

std::string UpdateRig::DeviceDirectory(uint32_t serial) const {
    return store + "/updater/" + Hex(serial);
}

std::string UpdateRig::StoreFile(uint32_t build, uint32_t serial) const {
    std::filesystem::create_directories(DeviceDirectory(serial));
    return DeviceDirectory(serial) + "/" + std::to_string(build) + ".bird";
}

void UpdateRig::SetCurrentBuild(uint32_t build, uint32_t serial) const {
    WriteWholeFile((Root() / Hex(serial) / "current").string(), std::to_string(build) + "\n");
}

std::string UpdateRig::SettingsPath(uint32_t serial) const {
    return DeviceDirectory(serial) + "/.settings";
}

void UpdateRig::WriteSettings(const std::string& text, uint32_t serial) const {
    std::filesystem::create_directories(DeviceDirectory(serial));
    WriteWholeFile(SettingsPath(serial), text);
}

std::string UpdateRig::Settings(uint32_t serial) const {
    return ReadWholeFile(SettingsPath(serial));
}

ProcessResult UpdateRig::Update(const std::vector<std::string>& arguments, uint32_t serial) {
    std::vector<std::string> all = {"-U", "-d", Hex(serial)};
    all.insert(all.end(), arguments.begin(), arguments.end());
    return Run(all);
}

ProcessResult UpdateRig::Run(const std::vector<std::string>& arguments) {
    std::vector<std::string> all = arguments;
    all.insert(all.end(), {"-u", server->Url(), "-i", store});
    return RunProcess(UPDATER_PATH, all, UPDATE_TIMEOUT_MS);
}

} // namespace qvtest
