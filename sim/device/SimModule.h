#pragma once

#include "SimPacket.h"

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

namespace qvsim {

// Who a module says it is.
struct SimIdentity {
    uint8_t moduleAddress = 2;
    uint32_t serialNumber = 0x1A2B3C4D;
    uint8_t model = 13;
    uint32_t firmwareVersion = 0;
    uint32_t build = 0;
};

// The packets a handler answers one request with; Add() addresses them from the module.
class SimReplies {
public:
    explicit SimReplies(uint8_t address) : address_(address) {}
    void Add(const std::vector<uint8_t>& data) { packets_.push_back(SimPacket::Make(address_, data)); }
    void Add(std::initializer_list<uint8_t> data) { packets_.push_back(SimPacket::Make(address_, data)); }
    void AddPacket(const SimPacket& packet) { packets_.push_back(packet); }
    // Ends the host's connection once these replies are out, as a device that restarts does.
    void Disconnect() { disconnect_ = true; }

    uint8_t Address() const { return address_; }
    const std::vector<SimPacket>& Packets() const { return packets_; }
    bool Disconnects() const { return disconnect_; }

private:
    uint8_t address_;
    std::vector<SimPacket> packets_;
    bool disconnect_ = false;
};

// Answers the requests of one command (data byte 0). Handlers run one at a time per device, so
// the state an entity keeps needs no lock of its own against other requests.
using SimHandler = std::function<void(const SimPacket& request, SimReplies& replies)>;

// One module: its identity and the entities it has, each registered by its command byte.
class SimModule {
public:
    explicit SimModule(const SimIdentity& identity = {});

    SimIdentity Identity() const;
    void SetIdentity(const SimIdentity& identity);
    uint8_t Address() const;

    // Replaces any handler of that command.
    void RegisterCommand(uint8_t command, SimHandler handler);
    void UnregisterCommand(uint8_t command);

    // False when no entity takes the request (the device stays silent then).
    bool Dispatch(const SimPacket& request, SimReplies& replies) const;

private:
    mutable std::mutex mutex_;
    SimIdentity identity_;
    std::map<uint8_t, SimHandler> handlers_;
};

} // namespace qvsim
