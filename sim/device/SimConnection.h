#pragma once

#include "SimPacket.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace qvsim {

class SimDevice;

// What a transport gives the device for one host connection.
class SimWire {
public:
    virtual ~SimWire() = default;
    // Writes every byte, waiting a bounded time; false when the bytes could not all go out.
    virtual bool Write(const uint8_t* bytes, size_t count) = 0;
    // Ends the connection; callable from any thread. The transport's serving thread notices,
    // releases its SimConnection and closes its descriptors.
    virtual void Drop() = 0;
};

// One host connection of a device. The transport creates it with SimDevice::Connect, feeds it the
// bytes it reads (from one thread), and destroys it before the wire goes away.
class SimConnection {
public:
    SimConnection(SimDevice& device, SimWire& wire);
    ~SimConnection();
    SimConnection(const SimConnection&) = delete;
    SimConnection& operator=(const SimConnection&) = delete;

    void Receive(const uint8_t* bytes, size_t count);
    // Interrupts a delayed reply and drops the wire; further input is ignored.
    void Close();
    bool IsClosed() const;

    // Used by the device.
    void Send(const std::vector<uint8_t>& bytes);
    // Waits for the time; false when the connection was closed meanwhile.
    bool Pause(std::chrono::milliseconds time);

private:
    SimDevice& device_;
    SimWire& wire_;
    SimFramer framer_;
    std::mutex writeMutex_;
    mutable std::mutex stateMutex_;
    std::condition_variable closedChanged_;
    bool closed_ = false;
};

} // namespace qvsim
