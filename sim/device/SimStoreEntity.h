#pragma once

#include "SimModule.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace qvsim {

// The store-slot command (4) of a module: numbered stores of numbered slots, each holding a byte
// string up to its capacity. A slot opened for writing is replaced by what was written when it is
// closed. Refusals: an unknown store or slot (index range), no free handle (resource), an unknown
// handle or one opened the other way (mode), a write past the capacity (overrun), which also keeps
// the slot as it was when it is closed.
class SimStoreEntity {
public:
    static constexpr uint8_t COMMAND = 4;
    static constexpr size_t HANDLES = 4;

    static std::shared_ptr<SimStoreEntity> Install(SimModule& module);

    void AddSlot(uint8_t store, uint8_t slot, uint16_t capacity, const std::vector<uint8_t>& contents = {});
    // The slot's contents, none for an unknown slot.
    std::optional<std::vector<uint8_t>> Contents(uint8_t store, uint8_t slot) const;
    size_t OpenHandles() const;

private:
    struct Slot {
        uint16_t capacity = 0;
        std::vector<uint8_t> contents;
    };
    struct OpenSlot {
        uint8_t store = 0;
        uint8_t slot = 0;
        bool writing = false;
        // A refused write spoils the whole load: closing then keeps the slot as it was.
        bool spoiled = false;
        size_t position = 0;
        std::vector<uint8_t> written;
    };

    SimStoreEntity() = default;
    void Handle(const SimPacket& packet, SimReplies& replies);
    void HandleSlotRequest(const uint8_t* data, SimReplies& replies);
    void HandleHandleRequest(const SimPacket& packet, SimReplies& replies);

    mutable std::mutex mutex_;
    std::map<std::pair<uint8_t, uint8_t>, Slot> slots_;
    std::map<uint8_t, OpenSlot> handles_;
};

} // namespace qvsim
