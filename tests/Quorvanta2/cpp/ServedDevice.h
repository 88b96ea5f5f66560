#ifndef QV_TESTS_SERVEDDEVICE_H
#define QV_TESTS_SERVEDDEVICE_H

#include "Module.h"
#include "SimDevice.h"
#include "SimEntities.h"
#include "SimTcpServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <vector>

using Bytes = std::vector<uint8_t>;

// A simulated device with the standard entities, served on a loopback TCP port for the time of a test.
struct ServedDevice {
    explicit ServedDevice(const qvsim::SimIdentity& identity = {},
                          const qvsim::SimSystemSettings& settings = {})
        : device(identity), entities(qvsim::SimEntities::Install(device.Module(), settings)), server(device) {
    }

    // How to reach the device: TCP/IP to 127.0.0.1 at the server's port.
    linkSpec Spec() const {
        linkSpec spec{};
        spec.type = TCPIP;
        spec.serialNumber = device.Identity().serialNumber;
        spec.model = device.Identity().model;
        spec.ip.ipAddress = Korvalen::Quorvanta::aETHER_LOOPBACK_ADDRESS;
        spec.ip.ipPort = server.Port();
        return spec;
    }

    // The data of every packet the device received with this command byte, oldest first.
    std::vector<Bytes> Received(uint8_t command) const {
        std::vector<Bytes> packets;
        for (const auto& packet : device.Record().received) {
            if (packet.length > 0 && packet.data[0] == command) {
                packets.push_back(packet.Data());
            }
        }
        return packets;
    }

    qvsim::SimDevice device;
    qvsim::SimEntities entities;
    qvsim::SimTcpServer server;
};

// Network sharing off, as the application connects: the link opens the device directly.
inline Korvalen::Quorvanta::aEtherConfig DirectConfig() {
    Korvalen::Quorvanta::aEtherConfig config;
    config.sharingEnabled = false;
    config.allowFallback = false;
    return config;
}

// A module connected to a served device.
struct ConnectedModule : ::testing::Test {
    ConnectedModule() : module(2, uint8_t{0}) {}

    void SetUp() override {
        ASSERT_EQ(module.setConfig(DirectConfig()), aErrNone);
        ASSERT_EQ(module.connectFromSpec(served.Spec()), aErrNone);
    }

    Korvalen::Quorvanta::Link& link() { return *module.getLink(); }

    ServedDevice served;
    Korvalen::Quorvanta::Module module;
};

#endif
