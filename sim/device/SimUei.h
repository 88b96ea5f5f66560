#pragma once

#include "SimModule.h"
#include "SimPacket.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace qvsim {

// Result codes a device puts in its error replies; the numbers are part of the wire protocol.
enum SimError : uint8_t {
    SIM_ERR_NONE = 0,
    SIM_ERR_MEMORY = 1,
    SIM_ERR_PARAM = 2,
    SIM_ERR_NOT_FOUND = 3,
    SIM_ERR_BUSY = 5,
    SIM_ERR_IO = 6,
    SIM_ERR_MODE = 7,
    SIM_ERR_PERMISSION = 12,
    SIM_ERR_RANGE = 13,
    SIM_ERR_SIZE = 14,
    SIM_ERR_OVERRUN = 15,
    SIM_ERR_PACKET = 24,
    SIM_ERR_INDEX_RANGE = 26,
    SIM_ERR_SHORT_COMMAND = 27,
    SIM_ERR_INVALID_ENTITY = 28,
    SIM_ERR_INVALID_OPTION = 29,
    SIM_ERR_RESOURCE = 30,
};

// Flag bits of the option and index bytes of a UEI request.
constexpr uint8_t UEI_GET = 0x40;
constexpr uint8_t UEI_SET = 0x80;
constexpr uint8_t UEI_ACK = 0xC0;
constexpr uint8_t UEI_OPTION_MASK = 0x3F;
constexpr uint8_t UEI_INDEX_MASK = 0x1F;
constexpr uint8_t UEI_INDEX_ERROR = 0x80;
constexpr uint8_t UEI_BYTES_CONTINUE = 0x80;
constexpr uint8_t UEI_BYTES_SEQUENCE_MASK = 0x7F;
constexpr size_t UEI_BYTES_PIECE_MAX = 24;

enum class SimUeiKind { Get, Set, Other };

// A UEI request as a device reads it: the bare option and index, the kind, and the bytes after the
// three header bytes.
struct SimUeiRequest {
    uint8_t command = 0;
    uint8_t option = 0;
    uint8_t index = 0;
    SimUeiKind kind = SimUeiKind::Other;
    std::vector<uint8_t> value;

    // None for a packet shorter than the three header bytes.
    static std::optional<SimUeiRequest> Parse(const SimPacket& packet);
};

uint32_t SimUei_Get32(const uint8_t* bytes);
std::vector<uint8_t> SimUei_Big(uint32_t value, size_t width);

// Replies to a request: an error (in the place of the value or of the acknowledgement), a value of width 1, 2
// or 4 bytes, a set acknowledgement, or a byte string cut into pieces with their trailers.
void SimUei_Error(SimReplies& replies, const SimUeiRequest& request, uint8_t code);
void SimUei_Value(SimReplies& replies, const SimUeiRequest& request, uint32_t value, size_t width);
void SimUei_Ack(SimReplies& replies, const SimUeiRequest& request);
void SimUei_Bytes(SimReplies& replies, const SimUeiRequest& request, const std::vector<uint8_t>& bytes);

// Gathers a byte string that arrives as a run of set requests, each with a piece and a trailer.
class SimUeiBytesReceiver {
public:
    enum class Step { More, Done, Error };

    // Done when the piece without the continue flag arrived (Bytes() holds the string); Error with
    // Code() for a piece out of order or a string longer than the capacity, after which it starts over.
    Step Add(const SimUeiRequest& request, size_t capacity);
    const std::vector<uint8_t>& Bytes() const { return bytes_; }
    uint8_t Code() const { return code_; }

private:
    std::optional<uint8_t> option_;
    uint8_t expected_ = 0;
    uint8_t code_ = SIM_ERR_NONE;
    std::vector<uint8_t> bytes_;
};

} // namespace qvsim
