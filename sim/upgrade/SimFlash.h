#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

namespace qvsim {

// A sparse memory written in runs of bytes: contiguous or overlapping writes join into one segment, later
// bytes replacing earlier ones. Bytes never written read as ERASED.
class SimFlash {
public:
    static constexpr uint8_t ERASED = 0xFF;

    void Write(uint32_t address, const std::vector<uint8_t>& bytes);
    std::vector<uint8_t> Read(uint32_t address, uint32_t length) const;
    // Start address -> bytes of each segment, in address order.
    const std::map<uint32_t, std::vector<uint8_t>>& Segments() const { return segments_; }
    size_t Size() const;
    void Clear() { segments_.clear(); }

private:
    std::map<uint32_t, std::vector<uint8_t>> segments_;
};

} // namespace qvsim
