#include "SimInfoEntity.h"

#include "SimUei.h"

#include <algorithm>

namespace qvsim {

namespace {

constexpr uint8_t QUERY_UEI = 1;
constexpr uint8_t QUERY_CLASS_QUANTITY = 4;
constexpr uint8_t QUERY_SUBCLASS_QUANTITY = 5;
constexpr uint8_t QUERY_ENTITY_GROUP = 6;
constexpr uint8_t QUERY_BUILD = 0xFF;

template <typename Map, typename Key> uint8_t _lookup(const Map& map, const Key& key) {
    auto found = map.find(key);
    return found == map.end() ? 0 : found->second;
}

} // namespace

std::shared_ptr<SimInfoEntity> SimInfoEntity::Install(SimModule& module) {
    std::shared_ptr<SimInfoEntity> entity(new SimInfoEntity(module));
    module.RegisterCommand(
        COMMAND, [entity](const SimPacket& packet, SimReplies& replies) { entity->Handle(packet, replies); });
    return entity;
}

void SimInfoEntity::DeclareUei(uint8_t command, uint8_t option, uint8_t index, bool get, bool set) {
    std::lock_guard lock(mutex_);
    ueis_[{command, option, index}] = (get ? GET : 0) | (set ? SET : 0);
    uint8_t& count = classQuantity_[command];
    count = std::max<uint8_t>(count, index + 1);
}

void SimInfoEntity::SetClassQuantity(uint8_t command, uint8_t count) {
    std::lock_guard lock(mutex_);
    classQuantity_[command] = count;
}

void SimInfoEntity::SetSubclassQuantity(uint8_t command, uint8_t index, uint8_t count) {
    std::lock_guard lock(mutex_);
    subclassQuantity_[{command, index}] = count;
}

void SimInfoEntity::SetEntityGroup(uint8_t command, uint8_t index, uint8_t group) {
    std::lock_guard lock(mutex_);
    entityGroup_[{command, index}] = group;
}

uint8_t SimInfoEntity::UeiAnswer(uint8_t command, uint8_t option, uint8_t index, uint8_t flags) const {
    if (_lookup(classQuantity_, command) <= index) {
        return SIM_ERR_INVALID_ENTITY;
    }
    auto found = ueis_.find({command, option, index});
    if (found == ueis_.end() || (found->second & flags) != flags) {
        return SIM_ERR_INVALID_OPTION;
    }
    return SIM_ERR_NONE;
}

void SimInfoEntity::Handle(const SimPacket& packet, SimReplies& replies) {
    if (packet.length < 2) {
        return;
    }
    const uint8_t* data = packet.data.data();
    std::lock_guard lock(mutex_);
    switch (data[1]) {
    case QUERY_BUILD:
        if (packet.length == 2) {
            auto build = SimUei_Big(module_.Identity().build, 4);
            std::vector<uint8_t> reply{COMMAND, QUERY_BUILD};
            reply.insert(reply.end(), build.begin(), build.end());
            replies.Add(reply);
        }
        break;
    case QUERY_UEI:
        if (packet.length == 6) {
            replies.Add({COMMAND, QUERY_UEI, data[2], data[3], data[4],
                         UeiAnswer(data[2], data[3], data[4], data[5])});
        }
        break;
    case QUERY_CLASS_QUANTITY:
        if (packet.length == 3) {
            replies.Add({COMMAND, QUERY_CLASS_QUANTITY, data[2], _lookup(classQuantity_, data[2])});
        }
        break;
    case QUERY_SUBCLASS_QUANTITY:
    case QUERY_ENTITY_GROUP:
        if (packet.length == 4) {
            const auto& map = data[1] == QUERY_SUBCLASS_QUANTITY ? subclassQuantity_ : entityGroup_;
            replies.Add({COMMAND, data[1], data[2], data[3], _lookup(map, std::make_pair(data[2], data[3]))});
        }
        break;
    }
}

} // namespace qvsim
