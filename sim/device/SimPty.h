#pragma once

#include "SimDevice.h"
#include "SimIo.h"

#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace qvsim {

// Serves a device on a pseudo-terminal, the way a device node of a kernel driver or a serial port
// looks to the host. The terminal is raw before anyone can open it, and the simulator keeps its own
// slave descriptor open so that hosts may open and close the node as often as they like. With a
// link path, a symbolic link there names the slave (replacing any file of that name). A disconnect
// replaces the terminal with a new one, as a device that re-enumerates would, and moves the link.
// Throws std::runtime_error when no terminal can be had; Stop() or the destructor closes
// everything, joins the thread and removes the link. The device must outlive the adapter.
class SimPty : public SimWire {
public:
    explicit SimPty(SimDevice& device, std::string linkPath = "");
    ~SimPty() override;
    SimPty(const SimPty&) = delete;
    SimPty& operator=(const SimPty&) = delete;

    std::string SlavePath() const;
    const std::string& LinkPath() const { return linkPath_; }
    void Stop();

    bool Write(const uint8_t* bytes, size_t count) override;
    void Drop() override;

private:
    void Open();
    void AwaitHostRead() const;
    void Serve();
    void Pump(SimConnection& connection);

    SimDevice& device_;
    std::string linkPath_;
    SimEvent stop_;
    SimEvent drop_;
    mutable std::mutex pathMutex_;
    std::string slavePath_;
    SimFd master_;
    SimFd slave_;
    std::mutex connectionMutex_;
    std::unique_ptr<SimConnection> connection_;
    std::thread thread_;
};

} // namespace qvsim
