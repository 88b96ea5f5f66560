#ifndef UPDATER_PARAMETERS_H
#define UPDATER_PARAMETERS_H

#include "CommandsClass.h"
#include "DefaultServer.h"

#include <cstdint>
#include <string>

enum TRANSPORT : int32_t {
    TRANSPORT_INVALID = 0,
    TRANSPORT_USB = 1,
    TRANSPORT_TCPIP = 2,
    TRANSPORT_RECOVER = 255,
};

constexpr uint32_t DEFAULT_BAUD_RATE = 115200;

// Everything the command line asks for; filled once by _get_params and read by the dispatch.
struct Parameters {
    CommandsClass commands;
    uint32_t serialNumber = 0;
    uint32_t routerSerialNumber = 0;
    int32_t transport = TRANSPORT_USB;
    bool transportGiven = false;
    std::string serialPort;
    uint32_t baudRate = DEFAULT_BAUD_RATE;
    std::string birdFile;
    // Decimal build number; empty asks for the server's current build.
    std::string build;
    std::string serverUrl = DEFAULT_SERVER_URL;
    std::string storeDirectory;
    std::string applicationName;
    bool override = false;
    bool useUEIBytes = true;
    uint32_t logMask = 0;
    bool logMaskGiven = false;
    bool helpRequested = false;
};

#endif
