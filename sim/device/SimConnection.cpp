#include "SimConnection.h"

#include "SimDevice.h"

namespace qvsim {

SimConnection::SimConnection(SimDevice& device, SimWire& wire) : device_(device), wire_(wire) {
    device_.AddConnection(*this);
}

SimConnection::~SimConnection() {
    device_.RemoveConnection(*this);
}

void SimConnection::Receive(const uint8_t* bytes, size_t count) {
    for (size_t i = 0; i < count && !IsClosed(); ++i) {
        if (auto packet = framer_.Add(bytes[i])) {
            device_.HandlePacket(*this, *packet);
        }
    }
}

void SimConnection::Close() {
    {
        std::lock_guard lock(stateMutex_);
        if (closed_) {
            return;
        }
        closed_ = true;
    }
    closedChanged_.notify_all();
    wire_.Drop();
}

bool SimConnection::IsClosed() const {
    std::lock_guard lock(stateMutex_);
    return closed_;
}

void SimConnection::Send(const std::vector<uint8_t>& bytes) {
    if (bytes.empty() || IsClosed()) {
        return;
    }
    std::lock_guard lock(writeMutex_);
    wire_.Write(bytes.data(), bytes.size());
}

bool SimConnection::Pause(std::chrono::milliseconds time) {
    std::unique_lock lock(stateMutex_);
    return !closedChanged_.wait_for(lock, time, [this] { return closed_; });
}

} // namespace qvsim
