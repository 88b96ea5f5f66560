#include "ParameterScan.h"

#include "Log.h"
#include "OptionScanner.h"

#include <cstring>
#include <string>
#include <string_view>

namespace {

using Level = UpdaterDisplayInterface::Level;

const char* const HEX_DIGITS = "0123456789ABCDEFabcdef";
const char* const DECIMAL_DIGITS = "0123456789";

int _digit_value(char c, uint32_t base) {
    int value = -1;
    if (c >= '0' && c <= '9')
        value = c - '0';
    else if (c >= 'a' && c <= 'f')
        value = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
        value = c - 'A' + 10;
    return value >= 0 && static_cast<uint32_t>(value) < base ? value : -1;
}

// Converts the leading digits of text; rest is left at the first character that is not one.
uint32_t _convert_leading(const char* text, uint32_t base, const char** rest) {
    uint32_t value = 0;
    int digit;
    while ((digit = _digit_value(*text, base)) >= 0) {
        value = value * base + static_cast<uint32_t>(digit);
        ++text;
    }
    *rest = text;
    return value;
}

uint32_t _convert_whole(const char* text, const char* digits, uint32_t base) {
    if (text[strspn(text, digits)] != '\0')
        return 0;
    const char* rest;
    return _convert_leading(text, base, &rest);
}

bool _has_hex_prefix(const char* text) {
    return text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
}

// Hexadecimal after "0x", else decimal. A bare "0x" converts its "0" and leaves the "x".
uint32_t _get_mask_arg(const char* text, const char** rest) {
    if (!_has_hex_prefix(text))
        return _convert_leading(text, 10, rest);
    if (_digit_value(text[2], 16) < 0) {
        *rest = text + 1;
        return 0;
    }
    return _convert_leading(text + 2, 16, rest);
}

bool _serial_arg(UpdaterDisplayInterface& display, const char* argument, const char* what, uint32_t& serial) {
    if (_has_hex_prefix(argument)) {
        argument += 2;
        Log::log(DEBUG_Updater, "Discarding '0x' %s prefix\n", what);
    }
    serial = _get_hex_arg(argument);
    if (serial != 0)
        return true;
    display.message(Level::ERROR, "Invalid %s obtained from argument [%s]", what, argument);
    return false;
}

bool _log_mask(UpdaterDisplayInterface& display, const ScannedOption& option, Parameters& parameters) {
    parameters.logMaskGiven = true;
    const char* rest;
    uint32_t mask = _get_mask_arg(option.argument, &rest);
    if (*rest != '\0') {
        display.message(Level::ERROR, "Invalid format for \"%s\" parameter, unprocessed characters [%s]",
                        option.text, rest);
        return true;
    }
    parameters.logMask = mask;
    // At once, so that the options after this one already log under the new mask.
    Log::ActivatePackage(mask);
    return true;
}

bool _transport(UpdaterDisplayInterface& display, const ScannedOption& option, Parameters& parameters) {
    std::string_view argument(option.argument);
    parameters.transportGiven = true;
    if (argument.starts_with("USB"))
        parameters.transport = TRANSPORT_USB;
    else if (argument.starts_with("TCP"))
        parameters.transport = TRANSPORT_TCPIP;
    else if (argument.starts_with("RECOVER"))
        parameters.transport = TRANSPORT_RECOVER;
    else {
        display.message(Level::ERROR,
                        "Invalid transport type:[%s]\nMust be one of the following: USB, TCPIP, RECOVER",
                        option.argument);
        parameters.transport = TRANSPORT_INVALID;
        return false;
    }
    return true;
}

using OptionHandler = bool (*)(UpdaterDisplayInterface&, const ScannedOption&, Parameters&);

struct HandlerEntry {
    const char* text;
    OptionHandler handle;
};

template <uint32_t COMMAND>
bool _command(UpdaterDisplayInterface&, const ScannedOption&, Parameters& parameters) {
    parameters.commands.Set(COMMAND);
    return true;
}

template <std::string Parameters::*FIELD>
bool _text(UpdaterDisplayInterface&, const ScannedOption& option, Parameters& parameters) {
    parameters.*FIELD = option.argument;
    return true;
}

bool _accepted(UpdaterDisplayInterface&, const ScannedOption&, Parameters&) {
    return true;
}

// Every option of the table except help, which ends the scan, and -Y, which has no handler.
const HandlerEntry HANDLERS[] = {
    {"-B", _command<LIST_BUILDS>},
    {"-L", _command<LIST_LOCAL_BUILDS>},
    {"-D", _command<DISCOVER>},
    {"-G", _command<GET_BUILD>},
    {"-I", _command<SHOW_INFO>},
    {"-U", _command<UPDATE>},
    {"-N", _command<FINGERPRINT>},
    {"-C", _command<CHECK_BIRD>},
    {"-J", _command<GET_JWT>},
    {"-Z", _command<OPTION_Z>},
    {"-OVERRIDE",
     [](UpdaterDisplayInterface&, const ScannedOption&, Parameters& parameters) {
         parameters.override = true;
         return true;
     }},
    {"-X", _log_mask},
    {"-d",
     [](UpdaterDisplayInterface& display, const ScannedOption& option, Parameters& parameters) {
         return _serial_arg(display, option.argument, "serial number", parameters.serialNumber);
     }},
    {"-r",
     [](UpdaterDisplayInterface& display, const ScannedOption& option, Parameters& parameters) {
         return _serial_arg(display, option.argument, "router serial number", parameters.routerSerialNumber);
     }},
    {"-b",
     [](UpdaterDisplayInterface&, const ScannedOption& option, Parameters& parameters) {
         parameters.build = std::to_string(_get_int_arg(option.argument));
         return true;
     }},
    {"-o",
     [](UpdaterDisplayInterface&, const ScannedOption& option, Parameters& parameters) {
         parameters.baudRate = _get_int_arg(option.argument);
         return true;
     }},
    {"-t", _transport},
    {"-m",
     [](UpdaterDisplayInterface&, const ScannedOption& option, Parameters& parameters) {
         std::string_view argument(option.argument);
         parameters.useUEIBytes = argument.starts_with('1') || argument.starts_with("true");
         return true;
     }},
    {"-i", _text<&Parameters::storeDirectory>},
    {"-f", _text<&Parameters::birdFile>},
    {"-s", _text<&Parameters::serialPort>},
    {"-u", _text<&Parameters::serverUrl>},
    {"-e", _accepted},
    {"-n", _accepted},
    {"-l", _accepted},
    {"-k", _accepted},
};

OptionHandler _find_handler(const char* text) {
    for (const HandlerEntry& entry : HANDLERS)
        if (strcmp(entry.text, text) == 0)
            return entry.handle;
    return nullptr;
}

std::string _application_name(const char* argv0) {
    std::string_view path(argv0 ? argv0 : "");
    size_t separator = path.find_last_of("\\/");
    return std::string(separator == std::string_view::npos ? path : path.substr(separator + 1));
}

} // namespace

uint32_t _get_hex_arg(const char* text) {
    return _convert_whole(text, HEX_DIGITS, 16);
}

uint32_t _get_int_arg(const char* text) {
    return _convert_whole(text, DECIMAL_DIGITS, 10);
}

int _validate_params(const Parameters&) {
    return 0;
}

int _get_params(UpdaterDisplayInterface& display, int argc, char* const* argv, Parameters& parameters) {
    parameters.applicationName = _application_name(argc > 0 ? argv[0] : nullptr);
    int result = 0;
    OptionScanner scanner(argc, argv, g_rgOptions);
    ScannedOption option;
    while (scanner.Next(option)) {
        if (option.id == OPTION_HELP) {
            parameters.commands.Set(HELP);
            parameters.helpRequested = true;
            return 0;
        }
        OptionHandler handle = _find_handler(option.text);
        if (handle == nullptr) {
            display.message(Level::ERROR, "Unhandled command: [%s]", option.text);
            result = 1;
        } else if (!handle(display, option, parameters)) {
            result = 1;
        }
    }
    Log::log(DEBUG_APP, "\nApplication parameters:[%s]\n", parameters.applicationName.c_str());
    for (int i = 0; i < argc; ++i)
        Log::log(DEBUG_APP, "\t[%s]\n", argv[i]);
    return result != 0 ? result : _validate_params(parameters);
}
