#include "CommandDispatch.h"

#include "ParameterScan.h"
#include "Parameters.h"
#include "ResultPrinters.h"
#include "StoreDirectory.h"
#include "Updater.h"
#include "UsageTexts.h"

#include <cstdlib>
#include <optional>
#include <string>

namespace {

using Level = UpdaterDisplayInterface::Level;

// The commands that need a device link (-D, -U, -N) say so rather than pretend to run.
int _unavailable(UpdaterDisplayInterface& display, const char* option) {
    display.message(Level::ERROR, "The %s command is not available in this version", option);
    return EXIT_FAILURE;
}

// -B, -L and -J need a device; without one the short usage follows the message.
bool _has_device(UpdaterDisplayInterface& display, const Parameters& parameters, const char* command) {
    if (parameters.serialNumber != 0)
        return true;
    display.message(Level::ERROR, "Error must supply a serial number for the %s command", command);
    _display_usage(false, false);
    return false;
}

int _get_build(UpdaterDisplayInterface& display, Updater& updater, Parameters& parameters) {
    display.message(Level::INFO, "Retrieving firmware for device with serial number %08X",
                    parameters.serialNumber);
    if (parameters.build.empty()) {
        display.message(Level::INFO, "No build specified");
        display.message(Level::INFO, "Using Latest build");
    } else {
        display.message(Level::INFO, "Retrieving firmware build %s", parameters.build.c_str());
    }
    uint32_t build =
        updater.Download_Firmware(parameters.serialNumber, parameters.build, parameters.override, false);
    if (build == 0)
        return EXIT_FAILURE;
    // A later command of the same run works on exactly the build that was fetched.
    parameters.build = std::to_string(build);
    return EXIT_SUCCESS;
}

// -D: the modules behind a router, or the devices on one transport (USB when none was given).
int _discover(UpdaterDisplayInterface& display, Updater& updater, const Parameters& parameters) {
    linkType type = parameters.transportGiven && parameters.transport != TRANSPORT_RECOVER
                        ? static_cast<linkType>(parameters.transport)
                        : INVALID;
    if (parameters.routerSerialNumber != 0) {
        display.message(Level::INFO, "Searching for Quorvanta Network devices connected to %08X",
                        parameters.routerSerialNumber);
        _display_device_list(display, updater.Discover_QVNetwork_Devices(parameters.routerSerialNumber, type),
                             type);
        return EXIT_SUCCESS;
    }
    display.message(Level::INFO, "Searching for Quorvanta devices");
    if (type == INVALID)
        type = USB;
    _display_device_list(display, updater.Discover_Devices(type), type);
    return EXIT_SUCCESS;
}

int _list_builds(UpdaterDisplayInterface& display, Updater& updater, const Parameters& parameters) {
    if (!_has_device(display, parameters, "List Builds"))
        return EXIT_FAILURE;
    std::optional<Updater::BuildList> builds = updater.Get_BuildList(parameters.serialNumber);
    if (!builds)
        return EXIT_FAILURE;
    _display_builds(display, *builds, parameters.serialNumber);
    return EXIT_SUCCESS;
}

int _list_local_builds(UpdaterDisplayInterface& display, Updater& updater, const Parameters& parameters) {
    if (!_has_device(display, parameters, "List Local Builds"))
        return EXIT_FAILURE;
    _display_builds(display, updater.Get_BuildListLocal(parameters.serialNumber), parameters.serialNumber);
    return EXIT_SUCCESS;
}

int _get_jwt(UpdaterDisplayInterface& display, Updater& updater, const Parameters& parameters) {
    if (!_has_device(display, parameters, "Get JWT"))
        return EXIT_FAILURE;
    std::optional<std::string> token = updater.Get_JWT(parameters.serialNumber);
    if (!token)
        return EXIT_FAILURE;
    _display_jwt(display, *token);
    return EXIT_SUCCESS;
}

// -U installs exactly the build named by -b or fetched by -G; without one the updater chooses.
int _update(UpdaterDisplayInterface& display, Updater& updater, const Parameters& parameters) {
    updater.Set_UEIBytes_Load(parameters.useUEIBytes);
    if (parameters.transport == TRANSPORT_RECOVER)
        return _unavailable(display, "-U -t RECOVER");
    if (parameters.serialNumber == 0) {
        display.message(Level::ERROR, "Must specify the specific device to be updated");
        return EXIT_FAILURE;
    }
    uint32_t build = _get_int_arg(parameters.build.c_str());
    bool updated = updater.Update_Firmware(parameters.serialNumber, build, parameters.birdFile, 0,
                                           parameters.routerSerialNumber, parameters.override);
    return updated ? EXIT_SUCCESS : EXIT_FAILURE;
}

int _run_commands(UpdaterDisplayInterface& display, Updater& updater, Parameters& parameters) {
    const CommandsClass& commands = parameters.commands;
    int status = EXIT_SUCCESS;
    if (commands.IsSet(FINGERPRINT)) {
        if (parameters.serialPort.empty()) {
            display.message(Level::ERROR, "Must specify the serial port used for connecting");
            return EXIT_FAILURE;
        }
        status = _unavailable(display, "-N");
    }
    if (commands.IsSet(GET_BUILD)) {
        if (parameters.serialNumber == 0) {
            display.message(Level::ERROR, "-G must specify a specific device via -d");
            display.message(Level::ERROR, "--help for usage information");
            return EXIT_FAILURE;
        }
        status = _get_build(display, updater, parameters);
    }
    if (commands.IsSet(DISCOVER))
        return _discover(display, updater, parameters);
    if (commands.IsSet(UPDATE))
        return _update(display, updater, parameters);
    if (commands.IsSet(LIST_BUILDS))
        return _list_builds(display, updater, parameters);
    if (commands.IsSet(LIST_LOCAL_BUILDS))
        return _list_local_builds(display, updater, parameters);
    if (commands.IsSet(GET_JWT))
        return _get_jwt(display, updater, parameters);
    return status;
}

} // namespace

int RunCommandLine(UpdaterDisplayInterface& display, int argc, char* const* argv) {
    Parameters parameters;
    if (_get_params(display, argc, argv, parameters) != 0) {
        _display_app_version(display);
        _display_notice(display);
        _display_usage(false, false);
        return EXIT_FAILURE;
    }
    _display_app_version(display);
    if (parameters.commands.IsSet(HELP) || !parameters.commands.IsSet(ANY_COMMAND)) {
        _display_notice(display);
        _display_usage(parameters.logMaskGiven, parameters.helpRequested);
        return EXIT_SUCCESS;
    }
    if (!ResolveStoreDirectory(display, parameters.storeDirectory))
        return EXIT_FAILURE;
    Updater updater(parameters.serverUrl, parameters.storeDirectory, display);
    return _run_commands(display, updater, parameters);
}
