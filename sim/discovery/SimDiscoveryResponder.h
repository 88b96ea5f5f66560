#pragma once

#include "SimDevice.h"
#include "SimIo.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <thread>

namespace qvsim {

// The device's side of TCP/IP discovery: joins group 232.2.2.2 (port 9888) on one interface address
// and answers every request with the device's module address, TCP port, serial number and model, as a
// unicast to the requester's port 9889. Run it only inside a private network namespace.
class SimDiscoveryResponder {
public:
    static constexpr size_t DATAGRAM_SIZE = 16;
    using Datagram = std::array<uint8_t, DATAGRAM_SIZE>;

    // Answering starts in the constructor (which throws std::runtime_error when the socket cannot be
    // had); Stop() or the destructor ends it. The device must outlive the responder; its identity is
    // read for every reply.
    SimDiscoveryResponder(const SimDevice& device, uint16_t tcpPort, const std::string& interfaceAddress);
    ~SimDiscoveryResponder();
    SimDiscoveryResponder(const SimDiscoveryResponder&) = delete;
    SimDiscoveryResponder& operator=(const SimDiscoveryResponder&) = delete;

    void Stop();
    size_t RequestsAnswered() const { return answered_; }

    // The reply of a device: byte 1 module address, bytes 2-3 TCP port and bytes 4-7 serial number
    // (little-endian), byte 12 model, the rest zero.
    static Datagram Reply(const SimIdentity& identity, uint16_t tcpPort);

private:
    void Serve();

    const SimDevice& device_;
    uint16_t tcpPort_;
    SimFd socket_;
    SimEvent stop_;
    std::atomic<size_t> answered_{0};
    std::thread server_;
};

} // namespace qvsim
