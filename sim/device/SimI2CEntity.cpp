#include "SimI2CEntity.h"

#include "SimUei.h"

namespace qvsim {

namespace {

constexpr uint8_t READ_BIT = 1;
constexpr uint8_t PULLUP = 1;
constexpr uint8_t STATUS_ERROR = 0x80;
constexpr uint8_t SPEED_MAX = 3;
constexpr size_t TRANSFER_HEADER = 5;

} // namespace

std::shared_ptr<SimI2CEntity> SimI2CEntity::Install(SimModule& module) {
    std::shared_ptr<SimI2CEntity> entity(new SimI2CEntity());
    module.RegisterCommand(
        COMMAND, [entity](const SimPacket& packet, SimReplies& replies) { entity->Handle(packet, replies); });
    return entity;
}

void SimI2CEntity::AddTarget(uint8_t address) {
    std::lock_guard lock(mutex_);
    targets_.try_emplace(address & ~READ_BIT);
}

void SimI2CEntity::RemoveTarget(uint8_t address) {
    std::lock_guard lock(mutex_);
    targets_.erase(address & ~READ_BIT);
}

std::vector<std::pair<uint8_t, std::vector<uint8_t>>> SimI2CEntity::Writes() const {
    std::lock_guard lock(mutex_);
    return writes_;
}

uint8_t SimI2CEntity::Speed() const {
    std::lock_guard lock(mutex_);
    return speed_;
}

bool SimI2CEntity::Pullup() const {
    std::lock_guard lock(mutex_);
    return pullup_;
}

void SimI2CEntity::Handle(const SimPacket& packet, SimReplies& replies) {
    const uint8_t* data = packet.data.data();
    std::lock_guard lock(mutex_);
    if (packet.length == 4 && data[2] == PULLUP) {
        uint8_t status = data[1] == 0 ? SIM_ERR_NONE : STATUS_ERROR | SIM_ERR_INDEX_RANGE;
        if (status == SIM_ERR_NONE) {
            pullup_ = data[3] != 0;
        }
        return replies.Add({COMMAND, data[1], PULLUP, data[3], status});
    }
    if (packet.length < TRANSFER_HEADER) {
        return;
    }
    std::vector<uint8_t> read;
    uint8_t status = Transfer(packet, read);
    std::vector<uint8_t> reply{COMMAND, data[1], data[2], static_cast<uint8_t>(read.size()), status};
    reply.insert(reply.end(), read.begin(), read.end());
    replies.Add(reply);
}

uint8_t SimI2CEntity::Transfer(const SimPacket& packet, std::vector<uint8_t>& read) {
    const uint8_t* data = packet.data.data();
    const uint8_t address = data[2];
    const uint8_t length = data[3];
    const bool reading = (address & READ_BIT) != 0;
    if (data[1] != 0) {
        return STATUS_ERROR | SIM_ERR_INDEX_RANGE;
    }
    if (length > LENGTH_MAX || (!reading && packet.length != TRANSFER_HEADER + length)) {
        return STATUS_ERROR | SIM_ERR_SIZE;
    }
    if (data[4] > SPEED_MAX) {
        return STATUS_ERROR | SIM_ERR_PARAM;
    }
    speed_ = data[4];
    auto target = targets_.find(address & ~READ_BIT);
    if (target == targets_.end()) {
        return STATUS_ERROR | SIM_ERR_NOT_FOUND;
    }
    if (reading) {
        read = target->second;
        read.resize(length);
    } else {
        target->second.assign(data + TRANSFER_HEADER, data + TRANSFER_HEADER + length);
        writes_.emplace_back(address, target->second);
    }
    return SIM_ERR_NONE;
}

} // namespace qvsim
