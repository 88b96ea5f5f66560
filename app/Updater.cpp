#include "Updater.h"

#include <stdexcept>

Updater::Updater(const std::string& serverUrl, const std::string& storeDirectory,
                 UpdaterDisplayInterface& display)
    : serverUrl(serverUrl), storeDirectory(storeDirectory), display(display) {}

void Updater::Set_UEIBytes_Load(bool flag) {
    useUEIBytes = flag;
}

std::unique_ptr<UpdaterStore> Updater::_createUpdaterStore(UpdaterDisplayInterface& display,
                                                           const std::string& storeDirectory,
                                                           const char* caller) {
    try {
        return std::make_unique<UpdaterStore>(storeDirectory);
    } catch (const std::runtime_error& error) {
        display.message(UpdaterDisplayInterface::Level::ERROR,
                        "Failed to Create UpdaterStore in: %s - Exception: %s", caller, error.what());
        return nullptr;
    }
}
