#pragma once

#include "SimDevice.h"
#include "SimIo.h"

#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace qvsim {

// Serves a device to any number of host connections on 127.0.0.1, or on the given IPv4 address (a
// device found by network discovery is reached at the address it answered from). Serving starts in the
// constructor (which throws std::runtime_error when the port cannot be had); Stop() or the
// destructor closes every connection and joins every thread. The device must outlive the server.
class SimTcpServer {
public:
    explicit SimTcpServer(SimDevice& device, uint16_t port = 0, const std::string& address = "127.0.0.1");
    ~SimTcpServer();
    SimTcpServer(const SimTcpServer&) = delete;
    SimTcpServer& operator=(const SimTcpServer&) = delete;

    uint16_t Port() const { return port_; }
    void Stop();

private:
    class Client;

    void AcceptLoop();
    void Reap();

    SimDevice& device_;
    SimFd listener_;
    uint16_t port_ = 0;
    SimEvent stop_;
    std::mutex clientsMutex_;
    std::list<std::unique_ptr<Client>> clients_;
    std::thread acceptor_;
};

} // namespace qvsim
