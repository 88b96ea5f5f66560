#include "SimUpgradeOptions.h"

#include "SimDisguise.h"

#include <map>
#include <sstream>
#include <stdexcept>

namespace qvsim {

namespace {

unsigned long _number(const std::string& text, int base, unsigned long limit) {
    size_t used = 0;
    unsigned long value = 0;
    try {
        value = std::stoul(text, &used, base);
    } catch (const std::exception&) {
        throw std::invalid_argument(text);
    }
    if (used != text.size() || value > limit) {
        throw std::invalid_argument(text);
    }
    return value;
}

unsigned _count(const std::string& text, bool given) {
    return given ? static_cast<unsigned>(_number(text, 10, SimUpgradeFaults::ALWAYS - 1))
                 : SimUpgradeFaults::ALWAYS;
}

uint8_t _step(const std::string& name) {
    static const std::map<std::string, uint8_t> steps = {
        {"init", SimUpgradeEntity::STEP_INIT},     {"data", SimUpgradeEntity::STEP_DATA},
        {"load", SimUpgradeEntity::STEP_LOAD},     {"prepare", SimUpgradeEntity::STEP_PREPARE},
        {"sum", SimUpgradeEntity::STEP_SUM},       {"write", SimUpgradeEntity::STEP_WRITE},
        {"reboot", SimUpgradeEntity::STEP_REBOOT},
    };
    auto found = steps.find(name);
    if (found == steps.end()) {
        throw std::invalid_argument(name);
    }
    return found->second;
}

SimLoaderStart _start(const std::string& text) {
    if (text == "keep") {
        return SimLoaderStart::Keep;
    }
    if (text == "restart") {
        return SimLoaderStart::Restart;
    }
    if (text == "silent") {
        return SimLoaderStart::Silent;
    }
    throw std::invalid_argument(text);
}

bool _reboot_drops(const std::string& text) {
    if (text == "drop" || text == "keep") {
        return text == "drop";
    }
    throw std::invalid_argument(text);
}

} // namespace

SimUpgradeOptions SimUpgradeOptions::Parse(const std::string& text) {
    if (text.empty()) {
        throw std::invalid_argument("an empty list");
    }
    SimUpgradeOptions options;
    std::istringstream items(text);
    std::string item;
    while (std::getline(items, item, ',')) {
        size_t equals = item.find('=');
        bool given = equals != std::string::npos;
        std::string name = item.substr(0, equals);
        std::string value = given ? item.substr(equals + 1) : "";
        if (name == "on" && !given) {
            continue;
        }
        if (name == "uei" && !given) {
            options.settings.ueiData = true;
        } else if (name == "firmware-only" && !given) {
            options.faults.firmwareOnly = true;
        } else if (name == "pooled" && !given) {
            options.pooled = true;
        } else if (name == "block" && given) {
            options.settings.blockSize = static_cast<uint16_t>(_number(value, 0, 0xFFFF));
        } else if (name == "start" && given) {
            options.settings.start = _start(value);
        } else if (name == "reboot" && given) {
            options.settings.rebootDrops = _reboot_drops(value);
        } else if (name == "wrong-sum") {
            options.faults.wrongSums = _count(value, given);
        } else if (name == "short-ack") {
            options.faults.shortAcks = _count(value, given);
        } else if (name == "silent" && given) {
            size_t colon = value.find(':');
            bool counted = colon != std::string::npos;
            options.faults.silent[_step(value.substr(0, colon))] =
                _count(counted ? value.substr(colon + 1) : "", counted);
        } else if (name == "report-serial" && given) {
            options.reportSerial = static_cast<uint32_t>(_number(value, 16, 0xFFFFFFFF));
        } else if (name == "report-model" && given) {
            options.reportModel = static_cast<uint8_t>(_number(value, 0, 0xFF));
        } else {
            throw std::invalid_argument(item);
        }
    }
    return options;
}

std::shared_ptr<SimUpgradeEntity> SimUpgradeOptions::Install(SimModule& module,
                                                             const SimEntities& entities) const {
    auto entity = SimUpgradeEntity::Install(module, *entities.info, settings);
    entity->SetFaults(faults);
    SimSystemSettings system = entities.system->Settings();
    if (pooled) {
        system.protocolFeatures |= POOLED_PACKETS_FEATURE;
        entities.system->SetSettings(system);
    }
    if (reportSerial || reportModel) {
        SimIdentity identity = module.Identity();
        SimDisguise::Install(module, reportSerial.value_or(identity.serialNumber),
                             reportModel.value_or(identity.model), system);
    }
    return entity;
}

} // namespace qvsim
