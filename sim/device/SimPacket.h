#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <vector>

namespace qvsim {

constexpr uint8_t ADDRESS_PROBE = 173;
constexpr uint8_t FORCE_ROUTE = 175;
constexpr size_t PACKET_DATA_MAX = 28;

// One packet as it travels on the wire: address, length, then length data bytes.
struct SimPacket {
    uint8_t address = 0;
    uint8_t length = 0;
    std::array<uint8_t, PACKET_DATA_MAX> data{};

    // Throws std::invalid_argument for more than PACKET_DATA_MAX data bytes.
    static SimPacket Make(uint8_t address, const std::vector<uint8_t>& data);
    static SimPacket Make(uint8_t address, std::initializer_list<uint8_t> data);

    std::vector<uint8_t> Wire() const;
    std::vector<uint8_t> Data() const { return {data.begin(), data.begin() + length}; }
    bool operator==(const SimPacket& other) const;
};

// Cuts a byte stream from the host into packets. Only even non-zero addresses and the two
// link-control addresses can start a packet; other bytes are skipped so that a host that fell out
// of step finds the device again with its address probes.
class SimFramer {
public:
    // A complete packet when this byte finished one.
    std::optional<SimPacket> Add(uint8_t byte);
    size_t SkippedBytes() const { return skipped_; }

private:
    SimPacket packet_;
    size_t filled_ = 0;
    size_t skipped_ = 0;
};

} // namespace qvsim
