#include "ResultPrinters.h"

namespace {

const char* const APP_NAME = "Updater";
const char* const APP_VERSION = "Version: 2.11.4 Sep 23 2025";

} // namespace

void _display_app_version(UpdaterDisplayInterface& display) {
    display.message(UpdaterDisplayInterface::INFO, "%s (%s)", APP_NAME, APP_VERSION);
}

void _display_fingerprint(UpdaterDisplayInterface& display, const Fingerprint& fingerprint) {
    display.message(UpdaterDisplayInterface::INFO, "[ %08X %08X %08X %08X ]", fingerprint[0], fingerprint[1],
                    fingerprint[2], fingerprint[3]);
}

void _display_jwt(UpdaterDisplayInterface& display, const std::string& token) {
    display.message(UpdaterDisplayInterface::INFO, "%s", token.c_str());
}
