#include "SimUpgradeEntity.h"

#include <numeric>

namespace qvsim {

namespace {

constexpr uint8_t STATUS_OK = 0;
constexpr uint8_t STATUS_REFUSED = 1;
constexpr uint8_t UEI_FLAGS = UEI_GET | UEI_SET;
constexpr size_t PREPARE_LENGTH = 7;
constexpr size_t WRITE_LENGTH = 4;
constexpr size_t HEADER_LENGTH = 2;

void _status(SimReplies& replies, uint8_t status, const std::vector<uint8_t>& value = {}) {
    std::vector<uint8_t> data{SimUpgradeEntity::COMMAND, SimUpgradeEntity::STEP_STATUS, status};
    data.insert(data.end(), value.begin(), value.end());
    replies.Add(data);
}

} // namespace

std::shared_ptr<SimUpgradeEntity> SimUpgradeEntity::Install(SimModule& module, SimInfoEntity& info,
                                                            const SimUpgradeSettings& settings) {
    std::shared_ptr<SimUpgradeEntity> entity(new SimUpgradeEntity(settings));
    module.RegisterCommand(
        COMMAND, [entity](const SimPacket& packet, SimReplies& replies) { entity->Handle(packet, replies); });
    if (settings.ueiData) {
        info.DeclareUei(COMMAND, OPTION_DATA_UEI, 0, false, true);
    }
    return entity;
}

SimUpgradeSettings SimUpgradeEntity::Settings() const {
    std::lock_guard lock(mutex_);
    return settings_;
}

void SimUpgradeEntity::SetSettings(const SimUpgradeSettings& settings) {
    std::lock_guard lock(mutex_);
    settings_ = settings;
}

SimUpgradeFaults SimUpgradeEntity::Faults() const {
    std::lock_guard lock(mutex_);
    return faults_;
}

void SimUpgradeEntity::SetFaults(const SimUpgradeFaults& faults) {
    std::lock_guard lock(mutex_);
    faults_ = faults;
}

SimUpgradeEntity::Phase SimUpgradeEntity::CurrentPhase() const {
    std::lock_guard lock(mutex_);
    return phase_;
}

SimUpgradeEvents SimUpgradeEntity::Events() const {
    std::lock_guard lock(mutex_);
    return events_;
}

SimFlash SimUpgradeEntity::Flash() const {
    std::lock_guard lock(mutex_);
    return flash_;
}

SimFlash SimUpgradeEntity::LoaderMemory() const {
    std::lock_guard lock(mutex_);
    return loader_;
}

void SimUpgradeEntity::OnReboot(std::function<void(const SimFlash&)> listener) {
    std::lock_guard lock(mutex_);
    rebootListener_ = std::move(listener);
}

bool SimUpgradeEntity::Consume(unsigned& count) const {
    if (count == 0 || (faults_.firmwareOnly && phase_ != Phase::Loader)) {
        return false;
    }
    if (count != SimUpgradeFaults::ALWAYS) {
        --count;
    }
    return true;
}

void SimUpgradeEntity::Handle(const SimPacket& packet, SimReplies& replies) {
    if (packet.length < HEADER_LENGTH) {
        return;
    }
    std::lock_guard lock(mutex_);
    if (packet.data[1] & UEI_FLAGS) {
        return HandleUei(packet, replies);
    }
    // The step runs in full even when its answer is to be lost; only the replies are held back.
    bool silent = Consume(faults_.silent[packet.data[1]]);
    SimReplies answer(replies.Address());
    HandleStep(packet, answer);
    if (!silent) {
        for (const auto& reply : answer.Packets()) {
            replies.AddPacket(reply);
        }
    }
    if (answer.Disconnects()) {
        replies.Disconnect();
    }
}

void SimUpgradeEntity::HandleStep(const SimPacket& packet, SimReplies& replies) {
    switch (packet.data[1]) {
    case STEP_INIT: {
        ++events_.inits;
        phase_ = Phase::ReceivingLoader;
        prepared_ = false;
        loader_.Clear();
        std::vector<uint8_t> data{COMMAND, STEP_INIT};
        auto base = SimUei_Big(settings_.loadBase, 4);
        data.insert(data.end(), base.begin(), base.end());
        return replies.Add(data);
    }
    case STEP_DATA:
        return Data(packet, replies);
    case STEP_LOAD:
        return Load(replies);
    case STEP_PREPARE:
        return Prepare(packet, replies);
    case STEP_SUM:
        return Sum(replies);
    case STEP_WRITE:
        return Write(packet, replies);
    case STEP_REBOOT:
        return Reboot(replies);
    default:
        return;
    }
}

size_t SimUpgradeEntity::Capacity() const {
    if (!prepared_) {
        return 0;
    }
    switch (phase_) {
    case Phase::ReceivingLoader:
        return LOADER_BLOCK_CAPACITY;
    case Phase::Loader:
        return settings_.blockSize;
    default:
        return 0;
    }
}

bool SimUpgradeEntity::Accept(const std::vector<uint8_t>& bytes) {
    if (received_.size() + bytes.size() > Capacity()) {
        return false;
    }
    // Loader memory takes the bytes as they come; flash only what a WRITE commits.
    if (phase_ == Phase::ReceivingLoader) {
        loader_.Write(address_ + static_cast<uint32_t>(received_.size()), bytes);
    }
    received_.insert(received_.end(), bytes.begin(), bytes.end());
    return true;
}

void SimUpgradeEntity::Prepare(const SimPacket& packet, SimReplies& replies) {
    ++events_.prepares;
    if (packet.length != PREPARE_LENGTH || phase_ == Phase::Firmware) {
        return _status(replies, STATUS_REFUSED);
    }
    prepared_ = true;
    address_ = SimUei_Get32(&packet.data[3]);
    received_.clear();
    _status(replies, STATUS_OK, SimUei_Big(settings_.blockSize, 2));
}

void SimUpgradeEntity::Data(const SimPacket& packet, SimReplies& replies) {
    if (packet.length <= HEADER_LENGTH) {
        return;
    }
    ++events_.dataPieces;
    std::vector<uint8_t> piece(packet.data.begin() + HEADER_LENGTH, packet.data.begin() + packet.length);
    uint8_t accepted = 0;
    if (Consume(faults_.shortAcks)) {
        accepted = static_cast<uint8_t>(piece.size() - 1);
    } else if (Accept(piece)) {
        accepted = static_cast<uint8_t>(piece.size());
    }
    replies.Add({COMMAND, STEP_DATA, accepted});
}

void SimUpgradeEntity::Sum(SimReplies& replies) {
    ++events_.sums;
    if (!prepared_) {
        return _status(replies, STATUS_REFUSED);
    }
    uint32_t sum = std::accumulate(received_.begin(), received_.end(), uint32_t(0));
    if (Consume(faults_.wrongSums)) {
        ++sum;
    }
    _status(replies, STATUS_OK, SimUei_Big(sum, 4));
}

void SimUpgradeEntity::Write(const SimPacket& packet, SimReplies& replies) {
    ++events_.writes;
    if (packet.length != WRITE_LENGTH || phase_ != Phase::Loader || !prepared_) {
        return _status(replies, STATUS_REFUSED);
    }
    size_t count = size_t(packet.data[2]) << 8 | packet.data[3];
    if (count > received_.size()) {
        return _status(replies, STATUS_REFUSED);
    }
    flash_.Write(address_, std::vector<uint8_t>(received_.begin(), received_.begin() + count));
    address_ += static_cast<uint32_t>(count);
    received_.erase(received_.begin(), received_.begin() + count);
    _status(replies, STATUS_OK);
}

void SimUpgradeEntity::Load(SimReplies& replies) {
    // Without a loader there is nothing to start, and nothing answers.
    if (phase_ != Phase::ReceivingLoader || loader_.Size() == 0) {
        return;
    }
    ++events_.loaderStarts;
    phase_ = Phase::Loader;
    prepared_ = false;
    if (settings_.start != SimLoaderStart::Silent) {
        replies.Add({COMMAND, STEP_LOAD});
    }
    if (settings_.start != SimLoaderStart::Keep) {
        replies.Disconnect();
    }
}

void SimUpgradeEntity::Reboot(SimReplies& replies) {
    ++events_.reboots;
    phase_ = Phase::Firmware;
    prepared_ = false;
    received_.clear();
    if (rebootListener_) {
        rebootListener_(flash_);
    }
    if (settings_.rebootDrops) {
        replies.Disconnect();
    }
}

void SimUpgradeEntity::HandleUei(const SimPacket& packet, SimReplies& replies) {
    auto request = SimUeiRequest::Parse(packet);
    if (!request) {
        return;
    }
    if (request->kind != SimUeiKind::Set || request->option != OPTION_DATA_UEI || !settings_.ueiData) {
        return SimUei_Error(replies, *request, SIM_ERR_INVALID_OPTION);
    }
    if (request->index != 0) {
        return SimUei_Error(replies, *request, SIM_ERR_INDEX_RANGE);
    }
    size_t capacity = Capacity();
    size_t room = capacity > received_.size() ? capacity - received_.size() : 0;
    switch (receiver_.Add(*request, room)) {
    case SimUeiBytesReceiver::Step::More:
        return;
    case SimUeiBytesReceiver::Step::Error:
        return SimUei_Error(replies, *request, receiver_.Code());
    case SimUeiBytesReceiver::Step::Done:
        ++events_.dataPieces;
        Accept(receiver_.Bytes());
        return SimUei_Ack(replies, *request);
    }
}

} // namespace qvsim
