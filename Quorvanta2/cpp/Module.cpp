#include "Module.h"

#include "aDebugging.h"
#include "aTime.h"

#include <cstring>
#include <new>

namespace Korvalen {
namespace Quorvanta {

namespace {

constexpr uint32_t AUTO_NETWORK_ATTEMPTS = 4;
constexpr uint32_t AUTO_NETWORK_PAUSE_MS = 5;

constexpr uint8_t INFO_COMMAND = 73;
constexpr uint8_t INFO_UEI = 1;
constexpr uint8_t INFO_CLASS_QUANTITY = 4;
constexpr uint8_t INFO_SUBCLASS_QUANTITY = 5;
constexpr uint8_t INFO_ENTITY_GROUP = 6;
constexpr uint8_t INFO_BUILD = 0xFF;
constexpr uint8_t BUILD_REPLY_LENGTH = 6;
constexpr uint8_t UEI_FLAG_BITS = 0xC0;

constexpr uint8_t ECHO_COMMAND = 23;
constexpr uint8_t ECHO_MAX = aPACKET_DATA_MAX - 1;

} // namespace

struct Module::Impl {
    // Owned; none only when it could not be made.
    Link* link = nullptr;
    uint8_t address = 0;
    bool networkingMode = true;
    uint8_t model = 0;

    bool connected() const { return link != nullptr && link->isConnected(); }

    // Learns the device's address after a good connect while networking mode is on.
    aErr autoNetwork() {
        if (!networkingMode || link == nullptr) {
            return aErrNone;
        }
        aErr result = aErrNone;
        uint8_t found = 0;
        uint32_t attempts = 0;
        do {
            result = link->getModuleAddress(&found);
            ++attempts;
            if (result != aErrNone) {
                aTime_MSSleep(AUTO_NETWORK_PAUSE_MS);
            }
        } while (result == aErrNotReady && attempts < AUTO_NETWORK_ATTEMPTS);
        if (attempts == AUTO_NETWORK_ATTEMPTS) {
            aDebugging_Printf(aDEBUG_MODULE, "BOO! Failed to autoNetwork\n");
        }
        if (found != 0 && found != address) {
            address = found;
        }
        return result;
    }

    // One information query: request (after the command byte) goes out, and the reply must be
    // echoLength request bytes long plus one answer byte, echoing them.
    aErr infoQuery(const uint8_t* request, uint8_t length, uint8_t echoLength, uint8_t* answer) {
        if (!connected()) {
            return aErrConnection;
        }
        aErr result = link->sendPacket(address, INFO_COMMAND, length, request);
        if (result != aErrNone) {
            return result;
        }
        const uint8_t match[] = {INFO_COMMAND};
        uint8_t replyLength = sizeof match;
        uint8_t reply[aPACKET_DATA_MAX];
        result = link->receivePacket(address, match, &replyLength, reply);
        if (result != aErrNone) {
            return result;
        }
        if (replyLength != echoLength + 2 || std::memcmp(reply + 1, request, echoLength) != 0) {
            return aErrUnknown;
        }
        *answer = reply[echoLength + 1];
        return aErrNone;
    }

    // A class, subclass or group query of the inventory.
    aErr inventory(const uint8_t* request, uint8_t length, uint8_t* answer) {
        if (answer == nullptr) {
            return aErrParam;
        }
        *answer = 0;
        return infoQuery(request, length, length, answer);
    }
};

Module::Module(uint8_t address, uint8_t model) : Module(address, true, model) {}

Module::Module(uint8_t address, bool networkingMode, uint8_t model) : impl(new Impl) {
    impl->link = new (std::nothrow) Link("Link");
    impl->address = address;
    impl->networkingMode = networkingMode;
    impl->model = model;
}

Module::~Module() {
    delete impl->link;
    delete impl;
}

aErr Module::connect(linkType type, uint32_t serialNumber) {
    if (serialNumber == 0) {
        return aErrParam;
    }
    return discoverAndConnect(type, serialNumber);
}

aErr Module::discoverAndConnect(linkType type, uint32_t serialNumber) {
    if (impl->link == nullptr) {
        return aErrInitialization;
    }
    aErr result = impl->link->discoverAndConnect(type, serialNumber, impl->model);
    return result == aErrNone ? impl->autoNetwork() : result;
}

aErr Module::connectFromSpec(const linkSpec& spec) {
    if (impl->link == nullptr) {
        return aErrInitialization;
    }
    if (impl->link->isConnected()) {
        return aErrBusy;
    }
    impl->link->setLinkSpecifier(spec);
    aErr result = impl->link->connect();
    return result == aErrNone ? impl->autoNetwork() : result;
}

aErr Module::connectThroughLinkModule(Module* router) {
    if (impl->link == nullptr) {
        return aErrInitialization;
    }
    if (impl->link->isConnected()) {
        return aErrNone;
    }
    if (router == nullptr) {
        return aErrParam;
    }
    linkSpec spec;
    aErr result = router->getLinkSpecifier(&spec);
    if (result != aErrNone) {
        return result;
    }
    Link* routerLink = router->getLink();
    if (routerLink == nullptr) {
        return aErrInitialization;
    }
    aEtherConfig config;
    routerLink->getConfig(&config);
    impl->link->setConfig(config);
    if (config.sharingEnabled) {
        spec.type = AETHER;
        spec.ip.ipAddress = config.interfaceAddress;
        spec.ip.ipPort = config.serverPort;
    }
    impl->link->setLinkSpecifier(spec);
    result = impl->link->connectThroughLinkModule(*routerLink);
    if (result == aErrNone) {
        // The device keeps the address on the I2C network that the caller gave it.
        impl->networkingMode = false;
    }
    return result;
}

aErr Module::reconnect() {
    if (impl->link == nullptr) {
        return aErrInitialization;
    }
    aErr result = impl->link->connect();
    return result == aErrNone ? impl->autoNetwork() : result;
}

bool Module::isConnected() const {
    return impl->connected();
}

int32_t Module::getStatus() const {
    return impl->link == nullptr ? LINK_PACKET_ERROR : impl->link->getStatus();
}

aErr Module::disconnect() {
    if (impl->link == nullptr) {
        return aErrInitialization;
    }
    return impl->link->disconnect();
}

uint8_t Module::getModuleAddress() const {
    return impl->address;
}

void Module::setModuleAddress(uint8_t address) {
    impl->address = address;
}

aErr Module::getLinkSpecifier(linkSpec* spec) const {
    if (impl->link == nullptr) {
        return aErrNotReady;
    }
    return impl->link->getLinkSpecifier(spec);
}

aErr Module::getConfig(aEtherConfig* config) const {
    if (impl->link == nullptr) {
        return aErrNotReady;
    }
    if (config == nullptr) {
        return aErrParam;
    }
    return impl->link->getConfig(config);
}

aErr Module::setConfig(const aEtherConfig& config) {
    if (impl->link == nullptr) {
        return aErrNotReady;
    }
    return impl->link->setConfig(config);
}

Link* Module::getLink() const {
    return impl->link;
}

void Module::setNetworkingMode(bool networkingMode) {
    impl->networkingMode = networkingMode;
}

aErr Module::enablePacketLog(const char* path) {
    if (impl->link == nullptr) {
        return aErrConfiguration;
    }
    return impl->link->enablePacketLog(path);
}

aErr Module::disablePacketLog() {
    if (impl->link == nullptr) {
        return aErrConfiguration;
    }
    return impl->link->disablePacketLog();
}

aErr Module::getBuild(uint32_t* build) {
    if (build == nullptr) {
        return aErrParam;
    }
    if (impl->link == nullptr) {
        return aErrInitialization;
    }
    if (!impl->connected()) {
        return aErrConnection;
    }
    const uint8_t query[] = {INFO_BUILD};
    aErr result = impl->link->sendPacket(impl->address, INFO_COMMAND, sizeof query, query);
    if (result != aErrNone) {
        return result;
    }
    const uint8_t match[] = {INFO_COMMAND, INFO_BUILD};
    uint8_t length = sizeof match;
    uint8_t reply[aPACKET_DATA_MAX];
    result = impl->link->receivePacket(impl->address, match, &length, reply);
    if (result != aErrNone) {
        return result;
    }
    if (length != BUILD_REPLY_LENGTH) {
        return aErrSize;
    }
    *build = aUEI_RetrieveInt(reply + 2);
    return aErrNone;
}

aErr Module::hasUEI(uint8_t command, uint8_t option, uint8_t index, uint8_t flags) {
    if ((flags & ~UEI_FLAG_BITS) != 0 || flags == UEI_FLAG_BITS) {
        return aErrParam;
    }
    const uint8_t request[] = {INFO_UEI, command, option, index, flags};
    uint8_t answer = 0;
    aErr result = impl->infoQuery(request, sizeof request, sizeof request - 1, &answer);
    return result == aErrNone ? answer : result;
}

aErr Module::classQuantity(uint8_t command, uint8_t* count) {
    const uint8_t request[] = {INFO_CLASS_QUANTITY, command};
    return impl->inventory(request, sizeof request, count);
}

aErr Module::subClassQuantity(uint8_t command, uint8_t index, uint8_t* count) {
    const uint8_t request[] = {INFO_SUBCLASS_QUANTITY, command, index};
    return impl->inventory(request, sizeof request, count);
}

aErr Module::entityGroup(uint8_t command, uint8_t index, uint8_t* group) {
    const uint8_t request[] = {INFO_ENTITY_GROUP, command, index};
    return impl->inventory(request, sizeof request, group);
}

aErr Module::debug(const uint8_t* data, uint8_t length) {
    if (!impl->connected()) {
        return aErrConnection;
    }
    if (length > ECHO_MAX || (length > 0 && data == nullptr)) {
        return aErrParam;
    }
    aErr result = impl->link->sendPacket(impl->address, ECHO_COMMAND, length, data);
    if (result != aErrNone) {
        return result;
    }
    const uint8_t match[] = {ECHO_COMMAND};
    uint8_t replyLength = sizeof match;
    uint8_t reply[aPACKET_DATA_MAX];
    result = impl->link->receivePacket(impl->address, match, &replyLength, reply);
    if (result != aErrNone) {
        return result;
    }
    if (replyLength != length + 1 || (length > 0 && std::memcmp(reply + 1, data, length) != 0)) {
        return aErrIO;
    }
    return aErrNone;
}

} // namespace Quorvanta
} // namespace Korvalen
