#pragma once

#include "SimModule.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace qvsim {

// The I2C bus entity (command 8, index 0) of a module, with the bus behind it. Writes and reads are
// acknowledged only where a target sits; a target keeps the bytes last written to it and gives them
// back on a read (zeros past their end). Status byte: 0 on success, else 0x80 with the code: no
// target (not found), another index (index range), more than 23 bytes (size), a speed code above 3
// (param).
class SimI2CEntity {
public:
    static constexpr uint8_t COMMAND = 8;
    static constexpr uint8_t LENGTH_MAX = 23;

    static std::shared_ptr<SimI2CEntity> Install(SimModule& module);

    void AddTarget(uint8_t address);
    void RemoveTarget(uint8_t address);
    // Every write that reached a target, oldest first.
    std::vector<std::pair<uint8_t, std::vector<uint8_t>>> Writes() const;
    uint8_t Speed() const;
    bool Pullup() const;

private:
    SimI2CEntity() = default;
    void Handle(const SimPacket& packet, SimReplies& replies);
    uint8_t Transfer(const SimPacket& packet, std::vector<uint8_t>& read);

    mutable std::mutex mutex_;
    std::map<uint8_t, std::vector<uint8_t>> targets_;
    std::vector<std::pair<uint8_t, std::vector<uint8_t>>> writes_;
    uint8_t speed_ = 0;
    bool pullup_ = false;
};

} // namespace qvsim
