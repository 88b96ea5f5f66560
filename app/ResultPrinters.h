#ifndef UPDATER_RESULTPRINTERS_H
#define UPDATER_RESULTPRINTERS_H

#include "DeviceInfo.h"
#include "Fingerprint.h"
#include "UpdaterDisplayInterface.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// Printers of command results; all of them write informational messages through the display.

void _display_app_version(UpdaterDisplayInterface& display);
void _display_fingerprint(UpdaterDisplayInterface& display, const Fingerprint& fingerprint);
void _display_jwt(UpdaterDisplayInterface& display, const std::string& token);
// The server's builds for a device (build text to version text), highest version first.
void _display_builds(UpdaterDisplayInterface& display, const std::map<std::string, std::string>& builds,
                     uint32_t serial);
// The discovered devices as a table; the header names the link type searched, while each row is
// formatted by its device's own link type.
void _display_device_list(UpdaterDisplayInterface& display, const std::vector<DeviceInfo>& devices,
                          linkType type);

#endif
