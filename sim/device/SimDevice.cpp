#include "SimDevice.h"

namespace qvsim {

namespace {

constexpr uint8_t HEARTBEAT = 0;
constexpr uint8_t HEARTBEAT_UP = 0;
constexpr uint8_t HEARTBEAT_DOWN = 1;
constexpr uint8_t HEARTBEAT_ANSWER_UP = 2;
constexpr uint8_t HEARTBEAT_ANSWER_DOWN = 3;

template <typename T> void _keep_newest(std::deque<T>& list, const T& item) {
    list.push_back(item);
    if (list.size() > SimRecord::RECORD_LIMIT) {
        list.pop_front();
    }
}

bool _is_heartbeat(const SimPacket& packet) {
    return packet.length == 2 && packet.data[0] == HEARTBEAT;
}

} // namespace

SimDevice::SimDevice(const SimIdentity& identity) : module_(std::make_shared<SimModule>(identity)) {}

SimDevice::~SimDevice() = default;

void SimDevice::RegisterCommand(uint8_t command, SimHandler handler) {
    module_->RegisterCommand(command, std::move(handler));
}

void SimDevice::AttachModule(std::shared_ptr<SimModule> module) {
    std::lock_guard lock(modulesMutex_);
    modules_[module->Address()] = std::move(module);
}

void SimDevice::DetachModule(uint8_t address) {
    std::lock_guard lock(modulesMutex_);
    modules_.erase(address);
}

std::shared_ptr<SimModule> SimDevice::ModuleAt(uint8_t address) {
    if (address == module_->Address()) {
        return module_;
    }
    std::lock_guard lock(modulesMutex_);
    auto found = modules_.find(address);
    return found == modules_.end() ? nullptr : found->second;
}

template <typename Change> void SimDevice::ChangeRecord(Change change) {
    {
        std::lock_guard lock(recordMutex_);
        change(record_);
    }
    recordChanged_.notify_all();
}

SimReplies SimDevice::Answer(const SimPacket& packet) {
    if (packet.address == ADDRESS_PROBE) {
        if (packet.length != 0) {
            return SimReplies(packet.address);
        }
        ChangeRecord([](SimRecord& record) { ++record.probesAnswered; });
        SimReplies answer(module_->Address());
        answer.Add({});
        return answer;
    }
    SimReplies replies(packet.address);
    if (packet.address == FORCE_ROUTE) {
        if (packet.length >= 1) {
            ChangeRecord([&](SimRecord& record) { record.forceRoutes.push_back(packet.data[0]); });
            if (forceRouteListener_) {
                forceRouteListener_(packet.data[0]);
            }
        }
        return replies;
    }
    auto module = ModuleAt(packet.address);
    if (!module) {
        return replies;
    }
    if (_is_heartbeat(packet)) {
        uint8_t beat = packet.data[1];
        if (beat == HEARTBEAT_UP || beat == HEARTBEAT_DOWN) {
            replies.Add({HEARTBEAT, static_cast<uint8_t>(beat + 2)});
        } else if (beat == HEARTBEAT_ANSWER_UP || beat == HEARTBEAT_ANSWER_DOWN) {
            ChangeRecord([](SimRecord& record) { ++record.heartbeatAnswers; });
        }
        return replies;
    }
    module->Dispatch(packet, replies);
    return replies;
}

void SimDevice::HandlePacket(SimConnection& from, const SimPacket& packet) {
    ChangeRecord([&](SimRecord& record) { _keep_newest(record.received, packet); });
    SimReplies replies = [&] {
        std::lock_guard lock(dispatchMutex_);
        return Answer(packet);
    }();
    bool disconnect = faults_.CountPacket() || replies.Disconnects();
    auto delay = faults_.ReplyDelay();
    if (!replies.Packets().empty() && delay.count() > 0 && !from.Pause(delay)) {
        return;
    }
    for (const auto& reply : replies.Packets()) {
        SimReplyPlan plan = faults_.PlanReply(packet);
        from.Send(plan.before);
        if (plan.drop) {
            ChangeRecord([](SimRecord& record) { ++record.droppedReplies; });
        } else {
            from.Send(reply.Wire());
            ChangeRecord([&](SimRecord& record) { _keep_newest(record.sent, reply); });
        }
        from.Send(plan.after);
    }
    if (disconnect) {
        from.Close();
    }
}

void SimDevice::Emit(const SimPacket& packet) {
    {
        std::lock_guard lock(connectionsMutex_);
        for (auto* connection : connections_) {
            connection->Send(packet.Wire());
        }
    }
    ChangeRecord([&](SimRecord& record) { _keep_newest(record.sent, packet); });
}

void SimDevice::OnForceRoute(std::function<void(uint8_t)> listener) {
    std::lock_guard lock(dispatchMutex_);
    forceRouteListener_ = std::move(listener);
}

void SimDevice::EmitHeartbeat(bool up) {
    Emit(SimPacket::Make(module_->Address(), {HEARTBEAT, up ? HEARTBEAT_UP : HEARTBEAT_DOWN}));
}

void SimDevice::InjectGarbage(const std::vector<uint8_t>& bytes, SimGarbageWhen when) {
    if (when != SimGarbageWhen::Now) {
        faults_.AddGarbage(when, bytes);
        return;
    }
    std::lock_guard lock(connectionsMutex_);
    for (auto* connection : connections_) {
        connection->Send(bytes);
    }
}

void SimDevice::DisconnectNow() {
    std::lock_guard lock(connectionsMutex_);
    for (auto* connection : connections_) {
        connection->Close();
    }
}

SimRecord SimDevice::Record() const {
    std::lock_guard lock(recordMutex_);
    return record_;
}

void SimDevice::ClearRecord() {
    ChangeRecord([](SimRecord& record) {
        size_t open = record.connectionsOpen;
        record = SimRecord{};
        record.connectionsOpen = open;
    });
}

bool SimDevice::WaitFor(const std::function<bool(const SimRecord&)>& condition,
                        std::chrono::milliseconds time) const {
    std::unique_lock lock(recordMutex_);
    return recordChanged_.wait_for(lock, time, [&] { return condition(record_); });
}

void SimDevice::AddConnection(SimConnection& connection) {
    {
        std::lock_guard lock(connectionsMutex_);
        connections_.insert(&connection);
    }
    ChangeRecord([](SimRecord& record) {
        ++record.connectionsOpened;
        ++record.connectionsOpen;
    });
}

void SimDevice::RemoveConnection(SimConnection& connection) {
    {
        std::lock_guard lock(connectionsMutex_);
        connections_.erase(&connection);
    }
    ChangeRecord([](SimRecord& record) { --record.connectionsOpen; });
}

} // namespace qvsim
