#ifndef TESTS_NETWORKDEVICE_H
#define TESTS_NETWORKDEVICE_H

#include "NetnsRig.h"
#include "SimDevice.h"
#include "SimDiscoveryResponder.h"
#include "SimEntities.h"
#include "SimRouter.h"
#include "SimTcpServer.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qvtest {

struct DeviceSetup {
    uint32_t serialNumber;
    uint8_t moduleAddress;
    uint8_t model;
    uint32_t firmwareVersion;
    uint32_t build;
    std::string name;
};

// A simulated device on the namespace's network: served over TCP on the veth address and answering
// discovery there. A device that refuses connections answers discovery for a port nobody serves.
class NetworkDevice {
public:
    enum Reachability { SERVED, REFUSING };

    explicit NetworkDevice(const DeviceSetup& setup, Reachability reachability = SERVED)
        : device(Identity(setup)), entities(qvsim::SimEntities::Install(device.Module(), Settings(setup))),
          server(device, 0, NETNS_ADDRESS_TEXT) {
        uint16_t port = server.Port();
        if (reachability == REFUSING)
            server.Stop();
        responder = std::make_unique<qvsim::SimDiscoveryResponder>(device, port, NETNS_ADDRESS_TEXT);
    }

    // Router mode: the children sit on the device's I2C bus at their module addresses.
    std::vector<qvsim::SimRouter::Child> AddChildren(const std::vector<DeviceSetup>& children) {
        router = qvsim::SimRouter::Install(device, entities);
        std::vector<qvsim::SimRouter::Child> added;
        for (const DeviceSetup& child : children)
            added.push_back(router->AddChild(Identity(child), Settings(child)));
        return added;
    }

    static qvsim::SimIdentity Identity(const DeviceSetup& setup) {
        qvsim::SimIdentity identity;
        identity.serialNumber = setup.serialNumber;
        identity.moduleAddress = setup.moduleAddress;
        identity.model = setup.model;
        identity.firmwareVersion = setup.firmwareVersion;
        identity.build = setup.build;
        return identity;
    }

    static qvsim::SimSystemSettings Settings(const DeviceSetup& setup) {
        qvsim::SimSystemSettings settings;
        settings.name.assign(setup.name.begin(), setup.name.end());
        return settings;
    }

    qvsim::SimDevice device;
    qvsim::SimEntities entities;
    std::shared_ptr<qvsim::SimRouter> router;
    qvsim::SimTcpServer server;
    std::unique_ptr<qvsim::SimDiscoveryResponder> responder;
};

} // namespace qvtest

#endif
