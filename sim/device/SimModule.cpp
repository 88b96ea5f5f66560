#include "SimModule.h"

#include <stdexcept>

namespace qvsim {

namespace {

void _check_address(uint8_t address) {
    if (address == 0 || address % 2 != 0) {
        throw std::invalid_argument("module address must be even and non-zero");
    }
}

} // namespace

SimModule::SimModule(const SimIdentity& identity) : identity_(identity) {
    _check_address(identity.moduleAddress);
}

SimIdentity SimModule::Identity() const {
    std::lock_guard lock(mutex_);
    return identity_;
}

void SimModule::SetIdentity(const SimIdentity& identity) {
    _check_address(identity.moduleAddress);
    std::lock_guard lock(mutex_);
    identity_ = identity;
}

uint8_t SimModule::Address() const {
    std::lock_guard lock(mutex_);
    return identity_.moduleAddress;
}

void SimModule::RegisterCommand(uint8_t command, SimHandler handler) {
    std::lock_guard lock(mutex_);
    handlers_[command] = std::move(handler);
}

void SimModule::UnregisterCommand(uint8_t command) {
    std::lock_guard lock(mutex_);
    handlers_.erase(command);
}

bool SimModule::Dispatch(const SimPacket& request, SimReplies& replies) const {
    if (request.length == 0) {
        return false;
    }
    SimHandler handler;
    {
        std::lock_guard lock(mutex_);
        auto found = handlers_.find(request.data[0]);
        if (found == handlers_.end()) {
            return false;
        }
        handler = found->second;
    }
    handler(request, replies);
    return true;
}

} // namespace qvsim
