#ifndef UPDATER_UPDATER_H
#define UPDATER_UPDATER_H

#include "BirdFile.h"
#include "Fingerprint.h"
#include "UpdateServerRequest.h"
#include "UpdaterDisplayInterface.h"
#include "UpdaterStore.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

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

    Updater(const std::string& serverUrl, const std::string& storeDirectory,
            UpdaterDisplayInterface& display);

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

    // The BIRD file at birdFile, or else the stored file of the build, downloaded first when it is
    // missing and downloadMissing is set. Throws std::runtime_error when no file can be read.
    BirdFile load_bird(const std::string& action, const std::string& birdFile, uint32_t serial,
                       uint32_t build, bool downloadMissing);

private:
    bool _valid_build(uint32_t serial, uint32_t build, const std::string& url);
    static std::unique_ptr<UpdaterStore> _createUpdaterStore(UpdaterDisplayInterface& display,
                                                             const std::string& storeDirectory,
                                                             const char* caller);

    std::string serverUrl;
    std::string storeDirectory;
    UpdaterDisplayInterface& display;
};

#endif
