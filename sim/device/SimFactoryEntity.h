#pragma once

#include "SimModule.h"

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace qvsim {

// The factory-data command (94) of a module: sixteen selectors, each a byte string. A transfer
// starts with a first packet (flag 0x40), moves pieces of up to 26 bytes (flag 0x10 towards the
// device) and ends with a closing packet carrying the byte count; a written string replaces the old
// one only when the count agrees. Refusals: a piece or close without a transfer, or for another
// selector (mode), a string past the capacity (overrun), a count that disagrees (size).
class SimFactoryEntity {
public:
    static constexpr uint8_t COMMAND = 94;
    static constexpr size_t SELECTORS = 16;
    static constexpr size_t CAPACITY = 512;

    static std::shared_ptr<SimFactoryEntity> Install(SimModule& module);

    std::vector<uint8_t> Data(uint8_t selector) const;
    void SetData(uint8_t selector, const std::vector<uint8_t>& data);

private:
    enum class Transfer { None, Reading, Writing };

    SimFactoryEntity() = default;
    void Handle(const SimPacket& packet, SimReplies& replies);
    void Close(const SimPacket& packet, SimReplies& replies);

    mutable std::mutex mutex_;
    std::array<std::vector<uint8_t>, SELECTORS> data_;
    Transfer transfer_ = Transfer::None;
    uint8_t selector_ = 0;
    size_t position_ = 0;
    std::vector<uint8_t> written_;
};

} // namespace qvsim
