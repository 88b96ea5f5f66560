#include "Updater.h"

#include "Log.h"
#include "Module.h"
#include "SystemClass.h"
#include "aDefs.h"
#include "aTime.h"

#include <optional>
#include <stdexcept>

using Korvalen::Quorvanta::Module;
using Korvalen::Quorvanta::SystemClass;

namespace {

using Level = UpdaterDisplayInterface::Level;

constexpr uint32_t RECONNECT_DELAY_MS = 1000;
constexpr uint32_t LOADER_RESTART_MS = 500;
constexpr uint32_t LINK_POLL_MS = 10;

std::string _stored_name(uint32_t build) {
    return std::to_string(build) + Updater::BIRD_FILE_EXTENSION;
}

// The settings name builds as "<build>.bird"; the number ends where the digits do.
uint32_t _setting_build(UpdaterStoreItem& device, const char* key) {
    int32_t build = device.settings.GetInt(key, 0);
    return build > 0 ? static_cast<uint32_t>(build) : 0;
}

bool _holds_build(UpdaterStoreItem& device, uint32_t build) {
    if (!device.IsValid())
        return false;
    try {
        device.ReadBirdFile(_stored_name(build));
        return true;
    } catch (const std::runtime_error&) {
        return false;
    }
}

// Over USB, and over TCP/IP when USB does not know the device; the transport that answered, or INVALID.
linkType _connect_direct(Module& module, uint32_t serial, aErr& err) {
    err = module.connect(USB, serial);
    if (err == aErrNone)
        return USB;
    if (err != aErrNotFound)
        return INVALID;
    err = module.connect(TCPIP, serial);
    return err == aErrNone ? TCPIP : INVALID;
}

// The I2C address of the last module behind the router that reports the serial number; 0 when none does.
uint16_t _network_address(const std::vector<DeviceInfo>& devices, uint32_t serial) {
    uint16_t address = 0;
    for (const DeviceInfo& device : devices)
        if (device.serialNumber == serial)
            address = device.i2cAddress;
    return address;
}

// A device restarting into its loader takes a moment to leave, and whatever is sent to it meanwhile is
// lost; a device whose loader runs on the same connection costs this wait and nothing else.
void _await_loader_restart(const Module& module) {
    for (uint32_t waited = 0; waited < LOADER_RESTART_MS && module.isConnected(); waited += LINK_POLL_MS)
        aTime_MSSleep(LINK_POLL_MS);
}

} // namespace

uint32_t Updater::_select_build(UpdaterStoreItem& device, uint32_t serial) {
    std::string serverBuild;
    std::string firmware;
    UpdateServerRequest::QueryBuild(serial, serverBuild, firmware, serverUrl);
    uint32_t build = _number_or_zero(serverBuild);
    if (build != 0 && !_holds_build(device, build)) {
        display.message(
            Level::INFO,
            "New firmware is available.  Updater will proceed if valid firmware is found locally.");
        build = 0;
    }
    if (build == 0) {
        build = _setting_build(device, KEY_LATEST_DOWNLOAD);
        if (build != 0)
            display.message(Level::INFO, "Updating with the Latest Download");
    }
    if (build == 0) {
        build = _setting_build(device, KEY_LATEST_TRANSFER);
        if (build != 0)
            display.message(Level::INFO, "Updating with the Latest Transfer");
    }
    return build;
}

bool Updater::Update_Firmware(uint32_t serial, uint32_t build, const std::string& birdFile,
                              uint8_t moduleAddress, uint32_t router, bool override) {
    if (serial == 0) {
        display.message(Level::ERROR, "Update command must specify the specific device");
        return false;
    }
    std::unique_ptr<UpdaterStore> store = _createUpdaterStore(display, storeDirectory, "Update_Firmware");
    if (!store)
        return false;
    UpdaterStoreItem device;
    if (!store->FindDevice(serial, &device) && !birdFile.empty()) {
        // The installation is recorded in the device's own settings, so a device updated from a file it
        // has never been stored with gets its entry now.
        try {
            device = store->AddDevice(serial);
        } catch (const std::runtime_error& error) {
            display.message(Level::ERROR, "Failed to create the store entry of device %08X: %s", serial,
                            error.what());
            return false;
        }
    }
    uint64_t start = aTime_GetMSTicks();

    if (birdFile.empty()) {
        if (build == 0)
            build = _select_build(device, serial);
        if (build == 0) {
            display.message(Level::ERROR, "Could not find valid build for this device.");
            return false;
        }
    }
    BirdFile file;
    try {
        file = load_bird("Updating", birdFile, serial, build, false);
    } catch (const std::runtime_error&) {
        display.message(Level::ERROR, "Failed to load bird file");
        return false;
    }
    if (file.hasSerialNumberBlock) {
        Log::log(DEBUG_Updater, "Setting serial number into firmware... ");
        if (!file.ReplaceSerialNumber(serial)) {
            Log::log(DEBUG_Updater, "Error: Unable to modify serial number in bird.\n");
            return false;
        }
        Log::log(DEBUG_Updater, " Serial Number inserted into firmware.\n");
    }

    Module module(moduleAddress, uint8_t{0});
    linkType transport = INVALID;
    std::optional<aErr> connected = _connect_for_update(module, serial, router, transport);
    if (!connected)
        return false;
    aErr err = *connected;
    if (err == aErrNone && !override && !_validate_birdfile(display, file, module, serial)) {
        display.message(Level::ERROR, "Birdfile failed validation");
        return false;
    }
    if (err == aErrNone)
        err = _transfer_loader(display, module, file);
    if (err == aErrNone)
        _await_loader_restart(module);
    if (err == aErrNone && !module.isConnected())
        _reconnect_after_loader(module, transport, serial);
    if (err == aErrNone)
        err = _transfer_firmware(display, module, file, router != 0, useUEIBytes);

    if (err != aErrNone) {
        Log::log(DEBUG_Updater, "Failed _transfer_firmware(): %d\n", err);
        return false;
    }
    device.settings.Add(KEY_LATEST_TRANSFER, birdFile.empty() ? _stored_name(build) : birdFile);
    device.settings.Add(KEY_LAST_TRANSFER_DATE, KeyValueStore::CurrentTimeText());
    device.settings.Save();
    Log::log(DEBUG_Updater, "Updating device firmware: \n");
    display.message(Level::INFO, "Update time: %.4f sec",
                    static_cast<double>(aTime_GetMSTicks() - start) / 1000);
    return true;
}

// The connection errors of a direct or routed device go on to the end of the update, which logs them;
// not finding the device on the router's network, or the router itself, ends the update at once (none).
std::optional<aErr> Updater::_connect_for_update(Module& module, uint32_t serial, uint32_t router,
                                                 linkType& transport) {
    aErr err = _disableEther(module, display);
    if (err != aErrNone)
        return err;
    if (router == 0) {
        transport = _connect_direct(module, serial, err);
        if (err != aErrNone)
            display.message(Level::ERROR, "Failed to connect to module [%08X]", serial);
        return err;
    }
    if (module.getModuleAddress() == 0) {
        std::vector<DeviceInfo> devices = Discover_QVNetwork_Devices(router, INVALID);
        if (devices.empty()) {
            display.message(Level::ERROR, "Unable to find modules on Network");
            return std::nullopt;
        }
        uint16_t address = _network_address(devices, serial);
        if (address == 0) {
            display.message(
                Level::ERROR,
                "Module address required for indirect firmware update, could not find serial number "
                "[0x%08X] on network",
                serial);
            return std::nullopt;
        }
        module.setModuleAddress(static_cast<uint8_t>(address));
    }
    // The device keeps the router's connection; the router object itself is not needed after this.
    Module routerModule(uint8_t{0}, uint8_t{0});
    err = _disableEther(routerModule, display);
    if (err != aErrNone)
        return err;
    transport = _connect_direct(routerModule, router, err);
    if (err != aErrNone) {
        display.message(Level::ERROR, "Failed to connect to link module [%08X]", router);
        return std::nullopt;
    }
    err = module.connectThroughLinkModule(&routerModule);
    if (err != aErrNone)
        display.message(Level::ERROR, "Failed to connect to module [%08X]", serial);
    return err;
}

// The device restarted into its loader and comes back as a new device: it is searched for again over the
// transport it was first reached through.
void Updater::_reconnect_after_loader(Module& module, linkType transport, uint32_t serial) {
    for (unsigned attempt = 1; attempt <= CONNECT_ATTEMPTS; ++attempt) {
        // A failed attempt can leave the link holding its id, which would refuse the next one.
        module.disconnect();
        if (module.discoverAndConnect(transport, serial) == aErrNone)
            return;
        aTime_MSSleep(RECONNECT_DELAY_MS);
    }
}

bool Updater::_validate_birdfile(UpdaterDisplayInterface& display, const BirdFile& file, Module& module,
                                 uint32_t serial) {
    if (file.blocks.empty())
        return false;
    if (!file.hasSerialNumberBlock && !file.ValidateSerialNumber(serial))
        return false;
    Log::log(DEBUG_Updater, "UpdateFirmware() Connecting to device\n");
    SystemClass system;
    system.init(&module, 0);
    uint32_t deviceSerial = 0;
    aErr err = system.getSerialNumber(&deviceSerial);
    if (deviceSerial != serial) {
        Log::log(DEBUG_Updater, "Bird serial number and connected device don't match (%d).\n", err);
        return false;
    }
    uint8_t model = 0;
    err = system.getModel(&model);
    const char* modelName = aDefs_GetModelName(model);
    if (!file.ValidateModel(modelName)) {
        display.message(Level::ERROR, "Connected device model and Bird file model do not match [%s] (%d)",
                        modelName, err);
        return false;
    }
    return true;
}
