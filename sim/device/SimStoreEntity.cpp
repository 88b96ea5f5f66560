#include "SimStoreEntity.h"

#include "SimUei.h"

#include <algorithm>
#include <numeric>

namespace qvsim {

namespace {

constexpr uint8_t OP_CAPACITY = 1;
constexpr uint8_t OP_SIZE = 2;
constexpr uint8_t OP_OPEN_READ = 3;
constexpr uint8_t OP_OPEN_WRITE = 4;
constexpr uint8_t OP_READ = 6;
constexpr uint8_t OP_WRITE = 7;
constexpr uint8_t OP_CLOSE = 8;
constexpr uint8_t OP_ERROR = 0x80;
constexpr size_t PIECE_MAX = 25;

std::vector<uint8_t> _slot_reply(const uint8_t* data, std::initializer_list<uint8_t> tail) {
    std::vector<uint8_t> reply{SimStoreEntity::COMMAND, data[1], data[2], data[3]};
    reply.insert(reply.end(), tail);
    return reply;
}

} // namespace

std::shared_ptr<SimStoreEntity> SimStoreEntity::Install(SimModule& module) {
    std::shared_ptr<SimStoreEntity> entity(new SimStoreEntity());
    module.RegisterCommand(
        COMMAND, [entity](const SimPacket& packet, SimReplies& replies) { entity->Handle(packet, replies); });
    return entity;
}

void SimStoreEntity::AddSlot(uint8_t store, uint8_t slot, uint16_t capacity,
                             const std::vector<uint8_t>& contents) {
    std::lock_guard lock(mutex_);
    slots_[{store, slot}] = Slot{capacity, contents};
}

std::optional<std::vector<uint8_t>> SimStoreEntity::Contents(uint8_t store, uint8_t slot) const {
    std::lock_guard lock(mutex_);
    auto found = slots_.find({store, slot});
    if (found == slots_.end()) {
        return std::nullopt;
    }
    return found->second.contents;
}

size_t SimStoreEntity::OpenHandles() const {
    std::lock_guard lock(mutex_);
    return handles_.size();
}

void SimStoreEntity::Handle(const SimPacket& packet, SimReplies& replies) {
    if (packet.length < 3) {
        return;
    }
    std::lock_guard lock(mutex_);
    uint8_t operation = packet.data[1];
    if (operation >= OP_CAPACITY && operation <= OP_OPEN_WRITE) {
        if (packet.length == 4) {
            HandleSlotRequest(packet.data.data(), replies);
        }
    } else if (operation >= OP_READ && operation <= OP_CLOSE) {
        HandleHandleRequest(packet, replies);
    }
}

void SimStoreEntity::HandleSlotRequest(const uint8_t* data, SimReplies& replies) {
    auto refuse = [&](uint8_t code) {
        replies.Add({COMMAND, static_cast<uint8_t>(data[1] | OP_ERROR), data[2], data[3], code});
    };
    auto found = slots_.find({data[2], data[3]});
    if (found == slots_.end()) {
        return refuse(SIM_ERR_INDEX_RANGE);
    }
    const Slot& slot = found->second;
    switch (data[1]) {
    case OP_CAPACITY:
    case OP_SIZE: {
        auto value = data[1] == OP_CAPACITY ? slot.capacity : static_cast<uint16_t>(slot.contents.size());
        return replies.Add(
            _slot_reply(data, {static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)}));
    }
    default: {
        if (handles_.size() >= HANDLES) {
            return refuse(SIM_ERR_RESOURCE);
        }
        uint8_t handle = 0;
        while (handles_.count(handle) != 0) {
            ++handle;
        }
        handles_[handle] = {data[2], data[3], data[1] == OP_OPEN_WRITE, false, 0, {}};
        return replies.Add(_slot_reply(data, {handle}));
    }
    }
}

void SimStoreEntity::HandleHandleRequest(const SimPacket& packet, SimReplies& replies) {
    const uint8_t operation = packet.data[1];
    const uint8_t number = packet.data[2];
    auto refuse = [&](uint8_t code) {
        replies.Add({COMMAND, static_cast<uint8_t>(operation | OP_ERROR), number, code});
    };
    auto found = handles_.find(number);
    if (found == handles_.end() || (operation == OP_READ && found->second.writing) ||
        (operation == OP_WRITE && !found->second.writing)) {
        return refuse(SIM_ERR_MODE);
    }
    OpenSlot& handle = found->second;
    Slot& slot = slots_[{handle.store, handle.slot}];
    switch (operation) {
    case OP_READ: {
        size_t piece =
            std::min(PIECE_MAX, slot.contents.size() - std::min(handle.position, slot.contents.size()));
        std::vector<uint8_t> reply{COMMAND, OP_READ, number};
        auto from = slot.contents.begin() + handle.position;
        reply.insert(reply.end(), from, from + piece);
        handle.position += piece;
        return replies.Add(reply);
    }
    case OP_WRITE: {
        std::vector<uint8_t> bytes(packet.data.begin() + 3, packet.data.begin() + packet.length);
        if (bytes.empty()) {
            return refuse(SIM_ERR_SHORT_COMMAND);
        }
        if (handle.written.size() + bytes.size() > slot.capacity) {
            handle.spoiled = true;
            return refuse(SIM_ERR_OVERRUN);
        }
        handle.written.insert(handle.written.end(), bytes.begin(), bytes.end());
        uint8_t sum = std::accumulate(bytes.begin(), bytes.end(), uint8_t{0});
        return replies.Add({COMMAND, OP_WRITE, number, sum});
    }
    default:
        if (handle.writing && !handle.spoiled) {
            slot.contents = handle.written;
        }
        handles_.erase(found);
        return replies.Add({COMMAND, OP_CLOSE, number, SIM_ERR_NONE});
    }
}

} // namespace qvsim
