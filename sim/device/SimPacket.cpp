#include "SimPacket.h"

#include <algorithm>
#include <stdexcept>

namespace qvsim {

namespace {

bool _starts_packet(uint8_t byte) {
    return (byte != 0 && byte % 2 == 0) || byte == ADDRESS_PROBE || byte == FORCE_ROUTE;
}

} // namespace

SimPacket SimPacket::Make(uint8_t address, const std::vector<uint8_t>& bytes) {
    if (bytes.size() > PACKET_DATA_MAX) {
        throw std::invalid_argument("packet data longer than 28 bytes");
    }
    SimPacket packet;
    packet.address = address;
    packet.length = static_cast<uint8_t>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), packet.data.begin());
    return packet;
}

SimPacket SimPacket::Make(uint8_t address, std::initializer_list<uint8_t> bytes) {
    return Make(address, std::vector<uint8_t>(bytes));
}

std::vector<uint8_t> SimPacket::Wire() const {
    std::vector<uint8_t> wire{address, length};
    wire.insert(wire.end(), data.begin(), data.begin() + length);
    return wire;
}

bool SimPacket::operator==(const SimPacket& other) const {
    return address == other.address && Data() == other.Data();
}

std::optional<SimPacket> SimFramer::Add(uint8_t byte) {
    if (filled_ == 0) {
        if (!_starts_packet(byte)) {
            ++skipped_;
            return std::nullopt;
        }
        packet_ = SimPacket{};
        packet_.address = byte;
        filled_ = 1;
        return std::nullopt;
    }
    if (filled_ == 1) {
        if (byte > PACKET_DATA_MAX) {
            // The address byte was noise; the refused byte may itself start the next packet.
            ++skipped_;
            filled_ = 0;
            return Add(byte);
        }
        packet_.length = byte;
        filled_ = 2;
    } else {
        packet_.data[filled_ - 2] = byte;
        ++filled_;
    }
    if (filled_ == static_cast<size_t>(packet_.length) + 2) {
        filled_ = 0;
        return packet_;
    }
    return std::nullopt;
}

} // namespace qvsim
