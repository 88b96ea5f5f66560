#pragma once

#include "SimModule.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <tuple>

namespace qvsim {

// The information command (73) of a module: the build number (from the module's identity), whether a
// UEI exists, and the entity inventory. Other entities declare what they have; a UEI query answers 0
// for a declared UEI, invalid entity for a command without entities and invalid option otherwise.
// Malformed queries get no answer.
class SimInfoEntity {
public:
    static constexpr uint8_t COMMAND = 73;
    // Direction flags of a UEI query: 0 asks whether the UEI exists at all.
    static constexpr uint8_t GET = 0x40;
    static constexpr uint8_t SET = 0x80;

    static std::shared_ptr<SimInfoEntity> Install(SimModule& module);

    // Declares a UEI of entity (command, index) and the directions it answers; also makes the
    // entity count in the inventory.
    void DeclareUei(uint8_t command, uint8_t option, uint8_t index, bool get, bool set);
    void SetClassQuantity(uint8_t command, uint8_t count);
    void SetSubclassQuantity(uint8_t command, uint8_t index, uint8_t count);
    void SetEntityGroup(uint8_t command, uint8_t index, uint8_t group);

private:
    explicit SimInfoEntity(SimModule& module) : module_(module) {}
    void Handle(const SimPacket& packet, SimReplies& replies);
    uint8_t UeiAnswer(uint8_t command, uint8_t option, uint8_t index, uint8_t flags) const;

    SimModule& module_;
    mutable std::mutex mutex_;
    // (command, option, index) -> directions (GET | SET)
    std::map<std::tuple<uint8_t, uint8_t, uint8_t>, uint8_t> ueis_;
    std::map<uint8_t, uint8_t> classQuantity_;
    std::map<std::pair<uint8_t, uint8_t>, uint8_t> subclassQuantity_;
    std::map<std::pair<uint8_t, uint8_t>, uint8_t> entityGroup_;
};

} // namespace qvsim
