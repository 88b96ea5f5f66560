#include "SimFaults.h"

namespace qvsim {

void SimFaults::DropNextReplies(unsigned count) {
    std::lock_guard lock(mutex_);
    dropNext_ = count;
}

void SimFaults::DropRepliesTo(uint8_t command, unsigned count) {
    std::lock_guard lock(mutex_);
    dropCommand_ = command;
    dropCommandCount_ = count;
}

void SimFaults::SetReplyDelay(std::chrono::milliseconds delay) {
    std::lock_guard lock(mutex_);
    delay_ = delay;
}

void SimFaults::DisconnectAfterPackets(unsigned count) {
    std::lock_guard lock(mutex_);
    disconnectAfter_ = count;
}

void SimFaults::AddGarbage(SimGarbageWhen when, const std::vector<uint8_t>& bytes) {
    std::lock_guard lock(mutex_);
    auto& target = when == SimGarbageWhen::BeforeNextReply ? before_ : after_;
    target.insert(target.end(), bytes.begin(), bytes.end());
}

void SimFaults::Clear() {
    std::lock_guard lock(mutex_);
    dropNext_ = 0;
    dropCommand_.reset();
    dropCommandCount_ = 0;
    delay_ = std::chrono::milliseconds(0);
    disconnectAfter_ = 0;
    before_.clear();
    after_.clear();
}

std::chrono::milliseconds SimFaults::ReplyDelay() const {
    std::lock_guard lock(mutex_);
    return delay_;
}

SimReplyPlan SimFaults::PlanReply(const SimPacket& request) {
    std::lock_guard lock(mutex_);
    SimReplyPlan plan;
    plan.before.swap(before_);
    plan.after.swap(after_);
    if (dropNext_ > 0) {
        --dropNext_;
        plan.drop = true;
    } else if (dropCommand_ && request.length > 0 && request.data[0] == *dropCommand_ &&
               dropCommandCount_ > 0) {
        if (dropCommandCount_ != ALWAYS) {
            --dropCommandCount_;
        }
        plan.drop = true;
    }
    return plan;
}

bool SimFaults::CountPacket() {
    std::lock_guard lock(mutex_);
    if (disconnectAfter_ == 0) {
        return false;
    }
    return --disconnectAfter_ == 0;
}

} // namespace qvsim
