#include "SimFactoryEntity.h"

#include "SimUei.h"

#include <algorithm>
#include <utility>

namespace qvsim {

namespace {

constexpr uint8_t SELECTOR_MASK = 0x0F;
constexpr uint8_t FLAG_DATA = 0x10;
constexpr uint8_t FLAG_CLOSE = 0x20;
constexpr uint8_t FLAG_FIRST = 0x40;
constexpr uint8_t FLAG_ERROR = 0x80;
constexpr size_t HEADER = 2;
constexpr size_t PIECE_MAX = 26;

void _refuse(SimReplies& replies, uint8_t selector, uint8_t code) {
    replies.Add({SimFactoryEntity::COMMAND, static_cast<uint8_t>(selector | FLAG_ERROR), code});
}

} // namespace

std::shared_ptr<SimFactoryEntity> SimFactoryEntity::Install(SimModule& module) {
    std::shared_ptr<SimFactoryEntity> entity(new SimFactoryEntity());
    module.RegisterCommand(
        COMMAND, [entity](const SimPacket& packet, SimReplies& replies) { entity->Handle(packet, replies); });
    return entity;
}

std::vector<uint8_t> SimFactoryEntity::Data(uint8_t selector) const {
    std::lock_guard lock(mutex_);
    return data_.at(selector);
}

void SimFactoryEntity::SetData(uint8_t selector, const std::vector<uint8_t>& data) {
    std::lock_guard lock(mutex_);
    data_.at(selector) = data;
}

void SimFactoryEntity::Handle(const SimPacket& packet, SimReplies& replies) {
    if (packet.length < HEADER) {
        return;
    }
    std::lock_guard lock(mutex_);
    const uint8_t flags = packet.data[1];
    if (flags == FLAG_CLOSE) {
        return Close(packet, replies);
    }
    const uint8_t selector = flags & SELECTOR_MASK;
    if (flags & (FLAG_CLOSE | FLAG_ERROR)) {
        return _refuse(replies, selector, SIM_ERR_PARAM);
    }
    const bool writing = (flags & FLAG_DATA) != 0;
    if (flags & FLAG_FIRST) {
        transfer_ = writing ? Transfer::Writing : Transfer::Reading;
        selector_ = selector;
        position_ = 0;
        written_.clear();
    } else if (transfer_ != (writing ? Transfer::Writing : Transfer::Reading) || selector_ != selector) {
        return _refuse(replies, selector, SIM_ERR_MODE);
    }
    std::vector<uint8_t> reply{COMMAND, selector};
    if (writing) {
        if (written_.size() + packet.length - HEADER > CAPACITY) {
            transfer_ = Transfer::None;
            return _refuse(replies, selector, SIM_ERR_OVERRUN);
        }
        written_.insert(written_.end(), packet.data.begin() + HEADER, packet.data.begin() + packet.length);
    } else {
        const auto& data = data_[selector];
        size_t piece = std::min(PIECE_MAX, data.size() - position_);
        reply.insert(reply.end(), data.begin() + position_, data.begin() + position_ + piece);
        position_ += piece;
    }
    replies.Add(reply);
}

void SimFactoryEntity::Close(const SimPacket& packet, SimReplies& replies) {
    Transfer transfer = std::exchange(transfer_, Transfer::None);
    if (packet.length != HEADER + 2) {
        return _refuse(replies, 0, SIM_ERR_SHORT_COMMAND);
    }
    size_t count = size_t(packet.data[2]) << 8 | packet.data[3];
    // Writing an empty string sends nothing before the close; there is nothing to do then.
    if (transfer == Transfer::None) {
        return count == 0 ? replies.Add({COMMAND, 0}) : _refuse(replies, 0, SIM_ERR_MODE);
    }
    size_t moved = transfer == Transfer::Writing ? written_.size() : position_;
    if (count != moved) {
        return _refuse(replies, 0, SIM_ERR_SIZE);
    }
    if (transfer == Transfer::Writing) {
        data_[selector_] = written_;
    }
    replies.Add({COMMAND, 0});
}

} // namespace qvsim
