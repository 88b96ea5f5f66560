#include "Updater.h"

#include "I2CClass.h"
#include "Log.h"
#include "Module.h"
#include "SystemClass.h"
#include "aDefs.h"
#include "aVersion.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>

using Korvalen::Quorvanta::aETHER_LOOPBACK_ADDRESS;
using Korvalen::Quorvanta::aEtherConfig;
using Korvalen::Quorvanta::I2CClass;
using Korvalen::Quorvanta::Module;
using Korvalen::Quorvanta::SystemClass;

namespace {

using Level = UpdaterDisplayInterface::Level;

// Devices are created at this address and learn their real one when they connect.
constexpr uint8_t PROVISIONAL_ADDRESS = 2;
constexpr uint8_t ANY_MODEL = 0;
constexpr uint8_t SYSTEM_ENTITY = 0;
constexpr uint8_t I2C_ENTITY = 0;

constexpr uint8_t INFORMATION_COMMAND = 73;
constexpr uint8_t BUILD_QUERY = 0xFF;
constexpr uint8_t BUILD_REPLY_LENGTH = 6;

// Modules on the I2C network sit at the even bus addresses.
constexpr uint8_t FIRST_BUS_ADDRESS = 2;
constexpr uint8_t LAST_BUS_ADDRESS = 252;
constexpr uint8_t FASTEST_BUS_SPEED = 3;

// The oldest firmware that keeps a user-given name.
constexpr uint8_t NAME_MAJOR = 2;
constexpr uint8_t NAME_MINOR = 10;
constexpr uint8_t NAME_PATCH = 4;
constexpr size_t NAME_CAPACITY = 32;

// The offset of the transport part in a specifier: what a module behind a router shares with it.
constexpr size_t TRANSPORT_OFFSET = 24;

// The search of _discovered_link: the serial number wanted, and the transport it was seen on.
struct LinkSearch {
    uint32_t serialNumber;
    linkType found;
};

// A specifier from discovery, destroyed when it goes out of scope.
struct SpecDestroyer {
    void operator()(linkSpec* spec) const { aLinkSpec_Destroy(&spec); }
};
using FoundSpec = std::unique_ptr<linkSpec, SpecDestroyer>;

std::vector<linkType> _transports(linkType type) {
    if (type == INVALID)
        return {USB, TCPIP};
    return {type};
}

} // namespace

uint8_t Updater::_discovered_device(const linkSpec* spec, bool* take, void* list) {
    static_cast<std::vector<DeviceInfo>*>(list)->emplace_back(*spec);
    *take = true;
    return 1;
}

uint8_t Updater::_discovered_link(const linkSpec* spec, bool* take, void* search) {
    LinkSearch* wanted = static_cast<LinkSearch*>(search);
    *take = true;
    if (spec->serialNumber != wanted->serialNumber)
        return 1;
    Log::log(DEBUG_Network, "NETWORK: Found device [%08X] via link type [%d]\n", spec->serialNumber,
             static_cast<int>(spec->type));
    wanted->found = spec->type;
    return 0;
}

linkType Updater::_discover_link_type(uint32_t serial) {
    LinkSearch search{serial, INVALID};
    aDiscovery_EnumerateModules(USB, _discovered_link, &search, aETHER_LOOPBACK_ADDRESS);
    if (search.found == INVALID)
        aDiscovery_EnumerateModules(TCPIP, _discovered_link, &search, aETHER_LOOPBACK_ADDRESS);
    return search.found;
}

aErr Updater::_disableEther(Module& module, UpdaterDisplayInterface& display) {
    aEtherConfig config;
    config.sharingEnabled = false;
    config.allowFallback = false;
    config.localOnly = true;
    aErr error = module.setConfig(config);
    if (error != aErrNone)
        display.message(Level::ERROR, "Failed to SET network configuration");
    return error;
}

uint32_t Updater::_get_build_number(Module& module) {
    Korvalen::Quorvanta::Link* link = module.getLink();
    const uint8_t query[] = {BUILD_QUERY};
    if (link == nullptr ||
        link->sendPacket(module.getModuleAddress(), INFORMATION_COMMAND, sizeof(query), query) != aErrNone)
        return 0;
    const uint8_t match[] = {INFORMATION_COMMAND, BUILD_QUERY};
    uint8_t length = sizeof(match);
    uint8_t reply[aPACKET_DATA_MAX] = {};
    if (link->receivePacket(module.getModuleAddress(), match, &length, reply) != aErrNone ||
        length != BUILD_REPLY_LENGTH)
        return 0;
    return static_cast<uint32_t>(reply[2]) << 24 | static_cast<uint32_t>(reply[3]) << 16 |
           static_cast<uint32_t>(reply[4]) << 8 | reply[5];
}

aErr Updater::_get_version(Module& module, DeviceInfo& info) {
    SystemClass system;
    system.init(&module, SYSTEM_ENTITY);
    uint32_t version = 0;
    aErr error = system.getVersion(&version);
    if (error != aErrNone)
        return error;
    info.versionMajor = static_cast<uint8_t>(aVersion_ParseMajor(version));
    info.versionMinor = static_cast<uint8_t>(aVersion_ParseMinor(version));
    info.versionPatch = aVersion_ParsePatch(version);
    uint8_t address = 0;
    if ((error = system.getModule(&address)) != aErrNone)
        return error;
    info.moduleAddress = address;
    if ((error = system.getRouter(&address)) != aErrNone)
        return error;
    info.routerAddress = address;
    return aErrNone;
}

aErr Updater::_get_device_name(Module& module, DeviceInfo& info) {
    // Legacy versions carry patches above 255, which are past any patch of the same minor.
    uint8_t patch = static_cast<uint8_t>(std::min<uint32_t>(info.versionPatch, 0xFF));
    if (!aVersion_IsAtLeastCompare(info.versionMajor, info.versionMinor, patch, NAME_MAJOR, NAME_MINOR,
                                   NAME_PATCH))
        return aErrNone;
    SystemClass system;
    system.init(&module, SYSTEM_ENTITY);
    uint8_t name[NAME_CAPACITY] = {};
    size_t length = 0;
    aErr error = system.getName(name, sizeof(name), &length);
    if (error == aErrNone)
        info.deviceName.assign(reinterpret_cast<const char*>(name), std::min(length, sizeof(name)));
    return error;
}

std::vector<DeviceInfo> Updater::Discover_Devices(linkType type) {
    std::vector<DeviceInfo> devices;
    for (linkType transport : _transports(type))
        aDiscovery_EnumerateModules(transport, _discovered_device, &devices, aETHER_LOOPBACK_ADDRESS);

    for (DeviceInfo& device : devices) {
        device.modelName = aDefs_GetModelName(device.model);
        Module module(PROVISIONAL_ADDRESS, ANY_MODEL);
        if (_disableEther(module, display) != aErrNone)
            continue;
        device.error = module.connectFromSpec(device);
        if (device.error == aErrNone) {
            device.buildNumber = _get_build_number(module);
            device.error = _get_version(module, device);
            if (device.error == aErrNone)
                device.error = _get_device_name(module, device);
        }
        module.disconnect();
    }
    return devices;
}

std::vector<DeviceInfo> Updater::Discover_QVNetwork_Devices(uint32_t router, linkType type) {
    if (type == INVALID)
        type = _discover_link_type(router);
    FoundSpec routerSpec(aDiscovery_FindModule(type, router, aETHER_LOOPBACK_ADDRESS));
    if (!routerSpec)
        return {};
    Log::log(DEBUG_Updater, "Found Link Module");

    Module routerModule(PROVISIONAL_ADDRESS, ANY_MODEL);
    if (_disableEther(routerModule, display) != aErrNone)
        return {};
    aErr error = routerModule.connectFromSpec(*routerSpec);
    if (error != aErrNone) {
        display.message(Level::ERROR, "Error %d on connectFromSpec", static_cast<int>(error));
        return {};
    }
    SystemClass routerSystem;
    routerSystem.init(&routerModule, SYSTEM_ENTITY);
    error = routerSystem.routeToMe(1);
    if (error != aErrNone) {
        display.message(Level::ERROR, "Error %d on route to me", static_cast<int>(error));
        routerModule.disconnect();
        return {};
    }
    I2CClass bus;
    bus.init(&routerModule, I2C_ENTITY);
    bus.setSpeed(FASTEST_BUS_SPEED);
    const uint8_t probe[2] = {0, 0};

    std::vector<DeviceInfo> devices;
    for (unsigned address = FIRST_BUS_ADDRESS; address <= LAST_BUS_ADDRESS; address += 2) {
        if (address == routerModule.getModuleAddress())
            continue;
        Log::log(DEBUG_Updater, "Searching Address 0x%02x\n", address);
        if (bus.write(static_cast<uint8_t>(address), sizeof(probe), probe) != aErrNone)
            continue;
        Log::log(DEBUG_Updater, "Attempt Connect on address: 0x%02x\n", address);
        Module module(static_cast<uint8_t>(address), false, ANY_MODEL);
        _disableEther(module, display);
        if (module.connectThroughLinkModule(&routerModule) != aErrNone)
            continue;
        SystemClass system;
        system.init(&module, SYSTEM_ENTITY);
        uint32_t serialNumber = 0;
        if (system.getSerialNumber(&serialNumber) != aErrNone) {
            module.disconnect();
            continue;
        }
        Log::log(DEBUG_Updater, "Got Serial [0x%08X]\n", serialNumber);

        // A module behind a router is reached the way the router is, so it shows the router's address.
        DeviceInfo device;
        std::memcpy(reinterpret_cast<uint8_t*>(static_cast<linkSpec*>(&device)) + TRANSPORT_OFFSET,
                    reinterpret_cast<const uint8_t*>(routerSpec.get()) + TRANSPORT_OFFSET,
                    sizeof(linkSpec) - TRANSPORT_OFFSET);
        device.type = type;
        device.serialNumber = serialNumber;
        device.routerAddress = routerModule.getModuleAddress();
        device.routerSerialNumber = router;
        device.i2cAddress = static_cast<uint16_t>(address);
        device.buildNumber = _get_build_number(module);
        device.error = _get_version(module, device);
        uint8_t model = 0;
        aErr modelError = system.getModel(&model);
        if (modelError == aErrNone) {
            device.model = model;
            device.modelName = aDefs_GetModelName(model);
        } else {
            device.error = modelError;
        }
        module.disconnect();
        devices.push_back(device);
    }

    routerSystem.routeToMe(0);
    routerModule.disconnect();
    return devices;
}
