#pragma once

#include "SimPacket.h"

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

namespace qvsim {

enum class SimGarbageWhen { Now, BeforeNextReply, AfterNextReply };

// What happens to one reply on its way out.
struct SimReplyPlan {
    std::vector<uint8_t> before;
    std::vector<uint8_t> after;
    bool drop = false;
};

// The fault switches of a device. Tests flip them from their own thread while transports serve,
// so every operation locks.
class SimFaults {
public:
    static constexpr unsigned ALWAYS = ~0u;

    void DropNextReplies(unsigned count);
    // Drops the replies to requests whose data byte 0 is the command; ALWAYS until cleared.
    void DropRepliesTo(uint8_t command, unsigned count = ALWAYS);
    void SetReplyDelay(std::chrono::milliseconds delay);
    // Closes the connection that carries the count-th packet from now, after its replies.
    void DisconnectAfterPackets(unsigned count);
    void AddGarbage(SimGarbageWhen when, const std::vector<uint8_t>& bytes);
    void Clear();

    std::chrono::milliseconds ReplyDelay() const;
    // Consumes the switches that apply to one reply to the given request.
    SimReplyPlan PlanReply(const SimPacket& request);
    // Counts one received packet; true when it is the one to disconnect after.
    bool CountPacket();

private:
    mutable std::mutex mutex_;
    unsigned dropNext_ = 0;
    std::optional<uint8_t> dropCommand_;
    unsigned dropCommandCount_ = 0;
    std::chrono::milliseconds delay_{0};
    unsigned disconnectAfter_ = 0;
    std::vector<uint8_t> before_;
    std::vector<uint8_t> after_;
};

} // namespace qvsim
