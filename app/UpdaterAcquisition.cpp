#include "Updater.h"

#include "KeyValueStore.h"
#include "Log.h"
#include "base64.h"

#include <charconv>
#include <chrono>
#include <cstdlib>
#include <future>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

using Level = UpdaterDisplayInterface::Level;

const char* const DOWNLOAD_LABEL = "Downloading";
constexpr std::chrono::milliseconds SPINNER_PERIOD(100);

// The leading decimal digits of text; none when there are none or they do not fit 32 bits.
std::optional<uint32_t> _leading_number(const std::string& text) {
    uint32_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc())
        return std::nullopt;
    return value;
}

bool _server_answers(UpdaterDisplayInterface& display, const std::string& url) {
    if (UpdateServerRequest::ping(url))
        return true;
    display.message(Level::ERROR, "Server request failed for %s", url.c_str());
    return false;
}

// What the download thread needs; it writes only payload and result, and the caller reads payload
// only after joining the thread.
struct DownloadJob {
    std::promise<bool> result;
    uint32_t serialNumber;
    std::string firmware;
    std::string buildText;
    std::string& payload;
    std::string url;
    bool noCalibration;
};

void _download_thread(DownloadJob* job) {
    bool downloaded = false;
    try {
        downloaded = UpdateServerRequest::GetBuild(job->serialNumber, job->firmware, job->buildText,
                                                   job->payload, job->url, job->noCalibration);
    } catch (const std::exception& error) {
        Log::log(DEBUG_Updater, "Download_Firmware: %s\n", error.what());
    }
    job->result.set_value(downloaded);
}

// The transfer size is unknown in advance, so a spinner shows that the download is still alive.
bool _download_with_spinner(UpdaterDisplayInterface& display, DownloadJob& job) {
    std::future<bool> result = job.result.get_future();
    std::thread worker(_download_thread, &job);
    display.update_spinner(true, DOWNLOAD_LABEL);
    while (result.wait_for(SPINNER_PERIOD) != std::future_status::ready)
        display.update_spinner(true, DOWNLOAD_LABEL);
    display.update_spinner(false, DOWNLOAD_LABEL);
    worker.join();
    return result.get();
}

// Stores a downloaded payload as "<build>.bird" and records it in the device's settings, the latter only
// once the whole file is in place.
bool _store_download(UpdaterDisplayInterface& display, UpdaterStoreItem& device, uint32_t build,
                     const std::string& payload) {
    size_t length = 0;
    std::unique_ptr<unsigned char, decltype(&free)> bytes(
        base64_decode(payload.data(), payload.size(), &length), &free);
    if (!bytes) {
        display.message(Level::ERROR, "The download of build %u could not be decoded", build);
        return false;
    }
    if (!BirdFile::VerifyHeader(bytes.get(), length)) {
        display.message(Level::ERROR, "The download of build %u is not a BIRD file", build);
        return false;
    }
    std::string timeText = KeyValueStore::CurrentTimeText();
    std::string fileName = std::to_string(build) + Updater::BIRD_FILE_EXTENSION;
    aErr err = device.WriteFile(fileName, bytes.get(), length);
    if (err != aErrNone) {
        display.message(Level::ERROR, "Failed to write file with %d", err);
        return false;
    }
    device.settings.Add(Updater::KEY_LATEST_DOWNLOAD, fileName);
    device.settings.Add(Updater::KEY_LAST_DOWNLOAD_DATE, timeText);
    device.settings.Save();
    return true;
}

std::string _stored_version(const std::string& path) {
    if (BirdFile::VerifyFile(path)) {
        try {
            std::string version = BirdFile(path).GetVersion();
            if (!version.empty())
                Log::log(DEBUG_Updater, "Found VERSION in birdfile: %s - Version: %s\n", path.c_str(),
                         version.c_str());
            return version;
        } catch (const std::runtime_error&) {
            // A good header over a broken body: listed without a version, like any other unreadable file.
        }
    }
    Log::log(DEBUG_Updater, "Could NOT file VERSION in birdfile: %s\n", path.c_str());
    return "";
}

} // namespace

uint32_t Updater::_number_or_zero(const std::string& text) {
    std::optional<uint32_t> value = _leading_number(text);
    if (!value)
        Log::log(DEBUG_Updater, "Error: Could not convert %s to int.\n", text.c_str());
    return value.value_or(0);
}

uint32_t Updater::Download_Firmware(uint32_t serial, const std::string& build, bool override,
                                    bool noCalibration) {
    uint32_t buildNumber = 0;
    if (!build.empty()) {
        std::optional<uint32_t> number = _leading_number(build);
        if (!number) {
            display.message(Level::ERROR, "Build number '%s' must be an number", build.c_str());
            return 0;
        }
        buildNumber = *number;
    }
    if (serial == 0) {
        display.message(Level::ERROR, "Serial Number must be non-zero");
        return 0;
    }
    if (!_server_answers(display, serverUrl))
        return 0;
    std::unique_ptr<UpdaterStore> store = _createUpdaterStore(display, storeDirectory, "Download_Firmware");
    if (!store)
        return 0;
    if (!store->FindDevice(serial))
        Log::log(DEBUG_APP, "Could not find device in our update history.\n");
    UpdaterStoreItem device;
    try {
        device = store->AddDevice(serial);
    } catch (const std::runtime_error&) {
        display.message(Level::ERROR, "Could not create directory for storing BIRD file");
        return 0;
    }

    std::string serverBuild;
    std::string firmware;
    if (!UpdateServerRequest::QueryBuild(serial, serverBuild, firmware, serverUrl)) {
        display.message(Level::ERROR, "No build information for device");
        return 0;
    }
    if (buildNumber == 0)
        buildNumber = _number_or_zero(serverBuild);
    display.message(Level::INFO, "Retrieving build %u", buildNumber);
    if (override) {
        display.message(Level::INFO, "Override specified, skipping validation of build %u", buildNumber);
    } else {
        display.message(Level::INFO, "Validating build %u with server", buildNumber);
        if (!_valid_build(serial, buildNumber, serverUrl)) {
            display.message(Level::ERROR, "No valid build %u", buildNumber);
            return 0;
        }
        display.message(Level::INFO, "Build %u is valid", buildNumber);
    }

    std::string payload;
    DownloadJob job{{}, serial, firmware, std::to_string(buildNumber), payload, serverUrl, noCalibration};
    if (!_download_with_spinner(display, job))
        display.message(Level::ERROR, "Download failed");
    if (payload.empty()) {
        display.message(Level::ERROR, "Failed to retrieve a valid BIRD file");
        return 0;
    }
    return _store_download(display, device, buildNumber, payload) ? buildNumber : 0;
}

uint32_t Updater::Download_Firmware(const Fingerprint& fingerprint, const std::string& build, bool override) {
    uint32_t buildNumber = build.empty() ? 0 : _number_or_zero(build);
    uint32_t serial = 0;
    uint32_t serverBuild = 0;
    if (!UpdateServerRequest::GetRecoveryInfo(fingerprint, serial, serverBuild, serverUrl)) {
        display.message(Level::ERROR, "Failed to retrieve recovery information from Korvalen update server");
        return 0;
    }
    if (buildNumber == 0)
        buildNumber = serverBuild;
    return Download_Firmware(serial, std::to_string(buildNumber), override, false);
}

std::optional<Updater::BuildList> Updater::Get_BuildList(uint32_t serial) {
    if (!_server_answers(display, serverUrl))
        return std::nullopt;
    BuildList builds;
    if (!UpdateServerRequest::GetBuildList(serial, builds, serverUrl)) {
        display.message(Level::ERROR, "Failed to retrieve builds for %08X", serial);
        return std::nullopt;
    }
    return builds;
}

std::optional<std::string> Updater::Get_JWT(uint32_t serial) {
    if (!_server_answers(display, serverUrl))
        return std::nullopt;
    std::string token;
    if (!UpdateServerRequest::GetDeviceJWT(serial, token, serverUrl)) {
        display.message(Level::ERROR, "Failed to retrieve jwt for %08X", serial);
        return std::nullopt;
    }
    return token;
}

Updater::BuildList Updater::Get_BuildListLocal(uint32_t serial) {
    BuildList builds;
    std::unique_ptr<UpdaterStore> store = _createUpdaterStore(display, storeDirectory, "Get_BuildListLocal");
    if (!store)
        return builds;
    std::vector<UpdaterStoreItem> items;
    store->FindLocalBuilds(serial, items);
    for (const UpdaterStoreItem& item : items) {
        std::string key = item.name.substr(0, item.name.find(BIRD_FILE_EXTENSION));
        builds.emplace(key, _stored_version(BuildPath({item.base.c_str(), item.name.c_str()})));
    }
    return builds;
}

bool Updater::_valid_build(uint32_t serial, uint32_t build, const std::string& url) {
    BuildList builds;
    if (!UpdateServerRequest::GetBuildList(serial, builds, url))
        return false;
    for (const auto& [buildText, version] : builds)
        if (_number_or_zero(buildText) == build)
            return true;
    return false;
}

BirdFile Updater::load_bird(const std::string& action, const std::string& birdFile, uint32_t serial,
                            uint32_t build, bool downloadMissing) {
    std::unique_ptr<UpdaterStore> store = _createUpdaterStore(display, storeDirectory, "load_bird");
    if (!store)
        return BirdFile();
    if (!birdFile.empty()) {
        display.message(Level::INFO, "%s from Birdfile: %s", action.c_str(), birdFile.c_str());
        return BirdFile(birdFile);
    }
    UpdaterStoreItem device = store->AddDevice(serial);
    display.message(Level::INFO, "%s firmware with build: %u", action.c_str(), build);
    std::string fileName = std::to_string(build) + BIRD_FILE_EXTENSION;
    try {
        return device.ReadBirdFile(fileName);
    } catch (const std::runtime_error&) {
        if (!downloadMissing)
            throw std::runtime_error("Error reading birdfile");
    }
    display.message(Level::INFO, "Downloading firmware build %u", build);
    Download_Firmware(serial, std::to_string(build), false, false);
    return device.ReadBirdFile(fileName);
}
