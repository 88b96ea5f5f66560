#ifndef UPDATER_UPDATER_H
#define UPDATER_UPDATER_H

#include "BirdFile.h"
#include "DeviceInfo.h"
#include "Fingerprint.h"
#include "UpdateServerRequest.h"
#include "UpdaterDisplayInterface.h"
#include "UpdaterStore.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace Korvalen::Quorvanta {
class Module;
}

// The operations behind the commands. An Updater keeps only the server URL, the store directory and the
// display; every operation opens what it needs (store, BIRD files, devices) for its own duration and
// reports failures through the display.
class Updater {
public:
    using BuildList = UpdateServerRequest::BuildList;

    // A stored build is the file "<build>.bird" in the device's directory; its settings name the latest.
    static constexpr const char* BIRD_FILE_EXTENSION = ".bird";
    static constexpr const char* KEY_LATEST_DOWNLOAD = "LATEST_DOWNLOAD";
    static constexpr const char* KEY_LAST_DOWNLOAD_DATE = "LAST_DOWNLOAD_DATE";
    static constexpr const char* KEY_LATEST_TRANSFER = "LATEST_TRANSFER";
    static constexpr const char* KEY_LAST_TRANSFER_DATE = "LAST_TRANSFER_DATE";
    // Searches for a device that restarted into its loader, one second apart.
    static constexpr unsigned CONNECT_ATTEMPTS = 15;
    // Attempts per firmware block.
    static constexpr unsigned BLOCK_RETRIES = 5;

    Updater(const std::string& serverUrl, const std::string& storeDirectory,
            UpdaterDisplayInterface& display);

    // Whether firmware goes to the device as UEI byte strings (faster) rather than packet by packet.
    void Set_UEIBytes_Load(bool flag);

    // The devices reachable over the transport (INVALID: USB, then TCP/IP), each read for its version,
    // build and name; a device that could not be read carries the error of the failed step.
    std::vector<DeviceInfo> Discover_Devices(linkType type);
    // The modules on the I2C network behind a router (type INVALID: wherever the router is seen).
    // Empty when the router cannot be found, connected or asked to route to this host.
    std::vector<DeviceInfo> Discover_QVNetwork_Devices(uint32_t router, linkType type);

    // Downloads a build (decimal text; empty for the server's current build) into the device's store
    // directory and records it as the latest download. Returns the build stored, or 0 on failure.
    uint32_t Download_Firmware(uint32_t serial, const std::string& build, bool override, bool noCalibration);
    // The same for a device known only by its chip identifier; the server names the device.
    uint32_t Download_Firmware(const Fingerprint& fingerprint, const std::string& build, bool override);

    // The builds the server offers for the device (build text to version text); none when the server
    // could not be asked.
    std::optional<BuildList> Get_BuildList(uint32_t serial);
    // The BIRD files the store holds for the device, by build, with the version each file names.
    BuildList Get_BuildListLocal(uint32_t serial);
    // The device's feature token; none when the server could not give one.
    std::optional<std::string> Get_JWT(uint32_t serial);

    // Installs a BIRD file on a running device: the file at birdFile, or else the stored build (0: the
    // server's current build when stored, else the latest download, else the latest installation). The
    // device is reached directly, or through the router with that serial number (moduleAddress 0: found
    // on the router's network). Records the installation in the device's settings; false on failure.
    bool Update_Firmware(uint32_t serial, uint32_t build, const std::string& birdFile, uint8_t moduleAddress,
                         uint32_t router, bool override);

    // The BIRD file at birdFile, or else the stored file of the build, downloaded first when it is
    // missing and downloadMissing is set. Throws std::runtime_error when no file can be read.
    BirdFile load_bird(const std::string& action, const std::string& birdFile, uint32_t serial,
                       uint32_t build, bool downloadMissing);

private:
    // Discovery callbacks: take every device into a list of DeviceInfo; stop at a wanted serial number.
    static uint8_t _discovered_device(const linkSpec* spec, bool* take, void* list);
    static uint8_t _discovered_link(const linkSpec* spec, bool* take, void* search);
    // The transport through which the device is seen (USB first), INVALID when it is not seen.
    static linkType _discover_link_type(uint32_t serial);
    // Reading a connected device: 0 for a build number that could not be read.
    static uint32_t _get_build_number(Korvalen::Quorvanta::Module& module);
    static aErr _get_version(Korvalen::Quorvanta::Module& module, DeviceInfo& info);
    static aErr _get_device_name(Korvalen::Quorvanta::Module& module, DeviceInfo& info);
    // Every device is opened directly, never through a sharing server.
    static aErr _disableEther(Korvalen::Quorvanta::Module& module, UpdaterDisplayInterface& display);

    // Firmware update: the build to install when none was named, and the stages of the installation.
    uint32_t _select_build(UpdaterStoreItem& device, uint32_t serial);
    std::optional<aErr> _connect_for_update(Korvalen::Quorvanta::Module& module, uint32_t serial,
                                            uint32_t router, linkType& transport);
    static bool _validate_birdfile(UpdaterDisplayInterface& display, const BirdFile& file,
                                   Korvalen::Quorvanta::Module& module, uint32_t serial);
    static aErr _transfer_loader(UpdaterDisplayInterface& display, Korvalen::Quorvanta::Module& module,
                                 BirdFile& file);
    static void _reconnect_after_loader(Korvalen::Quorvanta::Module& module, linkType transport,
                                        uint32_t serial);
    static aErr _transfer_firmware(UpdaterDisplayInterface& display, Korvalen::Quorvanta::Module& module,
                                   BirdFile& file, bool routed, bool useUEIBytes);
    // The leading decimal number of a build text; 0 (logged) when there is none.
    static uint32_t _number_or_zero(const std::string& text);
    bool _valid_build(uint32_t serial, uint32_t build, const std::string& url);
    static std::unique_ptr<UpdaterStore> _createUpdaterStore(UpdaterDisplayInterface& display,
                                                             const std::string& storeDirectory,
                                                             const char* caller);

    std::string serverUrl;
    std::string storeDirectory;
    UpdaterDisplayInterface& display;
    bool useUEIBytes = false;
};

#endif
