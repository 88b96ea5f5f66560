#include "SimUei.h"

#include <algorithm>

namespace qvsim {

namespace {

constexpr size_t HEADER_LENGTH = 3;

SimUeiKind _kind(uint8_t option) {
    switch (option & ~UEI_OPTION_MASK) {
    case UEI_GET:
        return SimUeiKind::Get;
    case UEI_SET:
        return SimUeiKind::Set;
    default:
        return SimUeiKind::Other;
    }
}

std::vector<uint8_t> _header(const SimUeiRequest& request, uint8_t option, uint8_t index) {
    return {request.command, option, index};
}

} // namespace

std::optional<SimUeiRequest> SimUeiRequest::Parse(const SimPacket& packet) {
    if (packet.length < HEADER_LENGTH) {
        return std::nullopt;
    }
    SimUeiRequest request;
    request.command = packet.data[0];
    request.option = packet.data[1] & UEI_OPTION_MASK;
    request.index = packet.data[2] & UEI_INDEX_MASK;
    request.kind = _kind(packet.data[1]);
    request.value.assign(packet.data.begin() + HEADER_LENGTH, packet.data.begin() + packet.length);
    return request;
}

uint32_t SimUei_Get32(const uint8_t* bytes) {
    return uint32_t(bytes[0]) << 24 | uint32_t(bytes[1]) << 16 | uint32_t(bytes[2]) << 8 | bytes[3];
}

std::vector<uint8_t> SimUei_Big(uint32_t value, size_t width) {
    std::vector<uint8_t> bytes(width);
    for (size_t i = 0; i < width; ++i) {
        bytes[i] = static_cast<uint8_t>(value >> (8 * (width - 1 - i)));
    }
    return bytes;
}

void SimUei_Error(SimReplies& replies, const SimUeiRequest& request, uint8_t code) {
    // A refused set is answered in the place of its acknowledgement.
    uint8_t option = request.kind == SimUeiKind::Set ? request.option | UEI_ACK : request.option;
    auto data = _header(request, option, request.index | UEI_INDEX_ERROR);
    data.push_back(code);
    replies.Add(data);
}

void SimUei_Value(SimReplies& replies, const SimUeiRequest& request, uint32_t value, size_t width) {
    auto data = _header(request, request.option, request.index);
    auto bytes = SimUei_Big(value, width);
    data.insert(data.end(), bytes.begin(), bytes.end());
    replies.Add(data);
}

void SimUei_Ack(SimReplies& replies, const SimUeiRequest& request) {
    replies.Add(_header(request, request.option | UEI_ACK, request.index));
}

void SimUei_Bytes(SimReplies& replies, const SimUeiRequest& request, const std::vector<uint8_t>& bytes) {
    size_t sent = 0;
    uint8_t sequence = 0;
    do {
        size_t piece = std::min(UEI_BYTES_PIECE_MAX, bytes.size() - sent);
        auto data = _header(request, request.option, request.index);
        data.insert(data.end(), bytes.begin() + sent, bytes.begin() + sent + piece);
        sent += piece;
        uint8_t more = sent < bytes.size() ? UEI_BYTES_CONTINUE : 0;
        data.push_back(more | (sequence & UEI_BYTES_SEQUENCE_MASK));
        replies.Add(data);
        ++sequence;
    } while (sent < bytes.size());
}

SimUeiBytesReceiver::Step SimUeiBytesReceiver::Add(const SimUeiRequest& request, size_t capacity) {
    auto fail = [this](uint8_t code) {
        option_.reset();
        code_ = code;
        return Step::Error;
    };
    if (request.value.empty()) {
        return fail(SIM_ERR_SHORT_COMMAND);
    }
    uint8_t trailer = request.value.back();
    uint8_t sequence = trailer & UEI_BYTES_SEQUENCE_MASK;
    // Sequence numbers wrap after 127, so a 0 continues a string that has taken 128 pieces.
    bool wrapped = option_ == request.option && expected_ == 0;
    if (sequence == 0 && !wrapped) {
        option_ = request.option;
        expected_ = 0;
        bytes_.clear();
    }
    if (option_ != request.option || sequence != expected_) {
        return fail(SIM_ERR_PACKET);
    }
    if (bytes_.size() + request.value.size() - 1 > capacity) {
        return fail(SIM_ERR_SIZE);
    }
    bytes_.insert(bytes_.end(), request.value.begin(), request.value.end() - 1);
    expected_ = (expected_ + 1) & UEI_BYTES_SEQUENCE_MASK;
    if (trailer & UEI_BYTES_CONTINUE) {
        return Step::More;
    }
    option_.reset();
    return Step::Done;
}

} // namespace qvsim
