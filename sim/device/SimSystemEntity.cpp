#include "SimSystemEntity.h"

#include <map>
#include <type_traits>
#include <utility>

namespace qvsim {

namespace {

constexpr uint8_t OPTION_SAVE = 10;
constexpr uint8_t OPTION_RESET = 11;
constexpr uint8_t OPTION_ROUTE_TO_ME = 20;
constexpr uint8_t OPTION_LOG_EVENTS = 24;
constexpr uint8_t OPTION_POWER_CONFIG = 31;
constexpr uint8_t OPTION_NAME = 32;
constexpr uint8_t OPTION_RESET_ENTITY = 36;
constexpr uint8_t OPTION_RESET_DEVICE = 37;
constexpr uint8_t OPTION_UNIQUE_IDENTIFIER = 39;
constexpr size_t WORD = 4;

using Reader = uint32_t (*)(const SimSystemSettings&, const SimIdentity&);
using Writer = uint8_t (*)(SimSystemSettings&, uint32_t);

// A value option: its width on the wire (1 or 4 bytes) and how it is read and, if at all, written.
struct ValueOption {
    size_t width;
    Reader read;
    Writer write;
};

template <auto Member> uint32_t _setting(const SimSystemSettings& settings, const SimIdentity&) {
    return static_cast<uint32_t>(settings.*Member);
}

template <auto Member> uint8_t _store(SimSystemSettings& settings, uint32_t value) {
    using Field = std::remove_reference_t<decltype(settings.*Member)>;
    settings.*Member = static_cast<Field>(value);
    return SIM_ERR_NONE;
}

template <auto Member> uint8_t _store_switch(SimSystemSettings& settings, uint32_t value) {
    if (value > 1) {
        return SIM_ERR_RANGE;
    }
    return _store<Member>(settings, value);
}

template <auto Member> uint32_t _identity(const SimSystemSettings&, const SimIdentity& identity) {
    return static_cast<uint32_t>(identity.*Member);
}

template <auto Member> constexpr ValueOption _read_only(size_t width) {
    return {width, &_setting<Member>, nullptr};
}

template <auto Member> constexpr ValueOption _read_write(size_t width) {
    return {width, &_setting<Member>, &_store<Member>};
}

const std::map<uint8_t, ValueOption>& _value_options() {
    using S = SimSystemSettings;
    static const std::map<uint8_t, ValueOption> options = {
        {1, {1, &_identity<&SimIdentity::moduleAddress>, nullptr}},
        {2, _read_write<&S::router>(1)},
        {3, _read_write<&S::heartbeatInterval>(1)},
        {4, {1, &_setting<&S::led>, &_store_switch<&S::led>}},
        {6, _read_write<&S::bootSlot>(1)},
        {7, {WORD, &_identity<&SimIdentity::firmwareVersion>, nullptr}},
        {8, {1, &_identity<&SimIdentity::model>, nullptr}},
        {9, {WORD, &_identity<&SimIdentity::serialNumber>, nullptr}},
        {12, _read_only<&S::inputVoltage>(WORD)},
        {13, _read_only<&S::hardwareOffset>(1)},
        {14, _read_only<&S::baseAddress>(1)},
        {15, _read_write<&S::softwareOffset>(1)},
        {16, _read_only<&S::routerAddressSetting>(1)},
        {21, _read_only<&S::inputCurrent>(WORD)},
        {22, _read_only<&S::uptime>(WORD)},
        {23, _read_only<&S::maximumTemperature>(WORD)},
        {25, _read_only<&S::unregulatedVoltage>(WORD)},
        {26, _read_only<&S::unregulatedCurrent>(WORD)},
        {27, _read_only<&S::temperature>(WORD)},
        {28, _read_only<&S::minimumTemperature>(WORD)},
        {29, _read_only<&S::inputPowerSource>(1)},
        {30, _read_write<&S::inputPowerBehavior>(1)},
        {33, _read_only<&S::powerLimit>(WORD)},
        {34, _read_write<&S::powerLimitMax>(WORD)},
        {35, _read_only<&S::powerLimitState>(WORD)},
        {38, _read_write<&S::linkInterface>(1)},
        {40, _read_only<&S::hardwareVersion>(WORD)},
        {41, _read_only<&S::errors>(WORD)},
        {42, _read_write<&S::ledMaxBrightness>(1)},
        {43, {WORD, &_identity<&SimIdentity::build>, nullptr}},
        {45, _read_only<&S::protocolFeatures>(WORD)},
    };
    return options;
}

bool _is_call(uint8_t option) {
    switch (option) {
    case OPTION_SAVE:
    case OPTION_RESET:
    case OPTION_LOG_EVENTS:
    case OPTION_RESET_ENTITY:
    case OPTION_RESET_DEVICE:
        return true;
    default:
        return false;
    }
}

} // namespace

std::shared_ptr<SimSystemEntity> SimSystemEntity::Install(SimModule& module,
                                                          const SimSystemSettings& settings) {
    std::shared_ptr<SimSystemEntity> entity(new SimSystemEntity(module, settings));
    module.RegisterCommand(
        COMMAND, [entity](const SimPacket& packet, SimReplies& replies) { entity->Handle(packet, replies); });
    return entity;
}

SimSystemEntity::SimSystemEntity(SimModule& module, const SimSystemSettings& settings)
    : module_(module), defaults_(settings), settings_(settings), saved_(settings) {}

SimSystemSettings SimSystemEntity::Settings() const {
    std::lock_guard lock(mutex_);
    return settings_;
}

void SimSystemEntity::SetSettings(const SimSystemSettings& settings) {
    std::lock_guard lock(mutex_);
    settings_ = settings;
}

SimSystemEvents SimSystemEntity::Events() const {
    std::lock_guard lock(mutex_);
    return events_;
}

std::vector<SimOptionAccess> SimSystemEntity::Options() {
    std::vector<SimOptionAccess> options;
    for (const auto& [option, value] : _value_options()) {
        options.push_back({option, true, value.write != nullptr});
    }
    for (uint8_t call : {OPTION_SAVE, OPTION_RESET, OPTION_LOG_EVENTS, OPTION_RESET_ENTITY,
                         OPTION_RESET_DEVICE, OPTION_ROUTE_TO_ME}) {
        options.push_back({call, false, true});
    }
    for (uint8_t bytes : {OPTION_POWER_CONFIG, OPTION_NAME}) {
        options.push_back({bytes, true, true});
    }
    options.push_back({OPTION_UNIQUE_IDENTIFIER, true, false});
    return options;
}

void SimSystemEntity::OnRouteToMe(std::function<void(bool)> listener) {
    std::lock_guard lock(mutex_);
    routeListener_ = std::move(listener);
}

void SimSystemEntity::Handle(const SimPacket& packet, SimReplies& replies) {
    auto request = SimUeiRequest::Parse(packet);
    if (!request) {
        return;
    }
    bool routeChanged = false;
    std::function<void(bool)> listener;
    bool route = false;
    {
        std::lock_guard lock(mutex_);
        HandleLocked(*request, replies, routeChanged);
        listener = routeListener_;
        route = events_.routeToMe != 0;
    }
    // Outside the lock: the listener may reach into the device, which may call back into entities.
    if (routeChanged && listener) {
        listener(route);
    }
}

void SimSystemEntity::HandleLocked(const SimUeiRequest& request, SimReplies& replies, bool& routeChanged) {
    const uint8_t option = request.option;
    if (request.index != 0) {
        return SimUei_Error(replies, request, SIM_ERR_INDEX_RANGE);
    }
    if (request.kind == SimUeiKind::Other) {
        return SimUei_Error(replies, request, SIM_ERR_MODE);
    }
    const bool get = request.kind == SimUeiKind::Get;

    if (_is_call(option) || option == OPTION_ROUTE_TO_ME) {
        if (get) {
            return SimUei_Error(replies, request, SIM_ERR_MODE);
        }
        switch (option) {
        case OPTION_SAVE:
            saved_ = settings_;
            ++events_.saves;
            break;
        case OPTION_RESET:
            // A reset restarts the device from what was saved.
            settings_ = saved_;
            ++events_.resets;
            break;
        case OPTION_LOG_EVENTS:
            ++events_.logEvents;
            break;
        case OPTION_RESET_ENTITY:
        case OPTION_RESET_DEVICE:
            settings_ = saved_ = defaults_;
            ++(option == OPTION_RESET_ENTITY ? events_.entityFactoryResets : events_.deviceFactoryResets);
            break;
        case OPTION_ROUTE_TO_ME:
            if (request.value.size() != 1) {
                return SimUei_Error(replies, request, SIM_ERR_SIZE);
            }
            if (request.value[0] > 1) {
                return SimUei_Error(replies, request, SIM_ERR_RANGE);
            }
            events_.routeToMe = request.value[0];
            routeChanged = true;
            break;
        }
        return SimUei_Ack(replies, request);
    }

    if (option == OPTION_NAME || option == OPTION_POWER_CONFIG) {
        auto& bytes = option == OPTION_NAME ? settings_.name : settings_.inputPowerBehaviorConfig;
        if (get) {
            return SimUei_Bytes(replies, request, bytes);
        }
        size_t capacity = option == OPTION_NAME ? SimSystemSettings::NAME_CAPACITY
                                                : SimSystemSettings::POWER_CONFIG_CAPACITY;
        switch (receiver_.Add(request, capacity)) {
        case SimUeiBytesReceiver::Step::More:
            return;
        case SimUeiBytesReceiver::Step::Error:
            return SimUei_Error(replies, request, receiver_.Code());
        case SimUeiBytesReceiver::Step::Done:
            if (option == OPTION_POWER_CONFIG && receiver_.Bytes().size() % WORD != 0) {
                return SimUei_Error(replies, request, SIM_ERR_SIZE);
            }
            bytes = receiver_.Bytes();
            return SimUei_Ack(replies, request);
        }
    }

    if (option == OPTION_UNIQUE_IDENTIFIER) {
        if (!get) {
            return SimUei_Error(replies, request, SIM_ERR_PERMISSION);
        }
        if (request.value.size() != 1) {
            return SimUei_Error(replies, request, SIM_ERR_SHORT_COMMAND);
        }
        if (request.value[0] >= settings_.uniqueIdentifier.size()) {
            return SimUei_Error(replies, request, SIM_ERR_INDEX_RANGE);
        }
        return SimUei_Value(replies, request, settings_.uniqueIdentifier[request.value[0]], WORD);
    }

    auto found = _value_options().find(option);
    if (found == _value_options().end()) {
        return SimUei_Error(replies, request, SIM_ERR_INVALID_OPTION);
    }
    const ValueOption& value = found->second;
    if (get) {
        if (!request.value.empty()) {
            return SimUei_Error(replies, request, SIM_ERR_PARAM);
        }
        return SimUei_Value(replies, request, value.read(settings_, module_.Identity()), value.width);
    }
    if (value.write == nullptr) {
        return SimUei_Error(replies, request, SIM_ERR_PERMISSION);
    }
    if (request.value.size() != value.width) {
        return SimUei_Error(replies, request, SIM_ERR_SIZE);
    }
    uint32_t written = value.width == WORD ? SimUei_Get32(request.value.data()) : request.value[0];
    uint8_t code = value.write(settings_, written);
    if (code != SIM_ERR_NONE) {
        return SimUei_Error(replies, request, code);
    }
    SimUei_Ack(replies, request);
}

} // namespace qvsim
