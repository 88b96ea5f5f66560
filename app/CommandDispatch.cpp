#include "CommandDispatch.h"

#include "ParameterScan.h"
#include "Parameters.h"
#include "ResultPrinters.h"
#include "StoreDirectory.h"
#include "UsageTexts.h"

#include <cstdlib>

namespace {

using Level = UpdaterDisplayInterface::Level;

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

int _query(UpdaterDisplayInterface& display, const Parameters& parameters, const char* command,
           const char* option) {
    if (!_has_device(display, parameters, command))
        return EXIT_FAILURE;
    return _unavailable(display, option);
}

int _run_commands(UpdaterDisplayInterface& display, Parameters& parameters) {
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
        status = _unavailable(display, "-G");
    }
    if (commands.IsSet(DISCOVER))
        return _unavailable(display, "-D");
    if (commands.IsSet(UPDATE)) {
        if (parameters.transport != TRANSPORT_RECOVER && parameters.serialNumber == 0) {
            display.message(Level::ERROR, "Must specify the specific device to be updated");
            return EXIT_FAILURE;
        }
        return _unavailable(display, "-U");
    }
    if (commands.IsSet(LIST_BUILDS))
        return _query(display, parameters, "List Builds", "-B");
    if (commands.IsSet(LIST_LOCAL_BUILDS))
        return _query(display, parameters, "List Local Builds", "-L");
    if (commands.IsSet(GET_JWT))
        return _query(display, parameters, "Get JWT", "-J");
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
    return _run_commands(display, parameters);
}
