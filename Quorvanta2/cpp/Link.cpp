#include "Link.h"

#include "LinkImpl.h"
#include "aDebugging.h"
#include "aLink.h"
#include "aTime.h"

#include <cstring>
#include <mutex>

namespace Korvalen {
namespace Quorvanta {

namespace {

constexpr size_t LINK_NAME_MAX = 1024;
constexpr uint32_t CONNECT_POLL_ROUNDS = 200;
constexpr uint32_t CONNECT_POLL_MS = 10;

// Serialises the creation of engine links by every Link of the process.
std::mutex linkCreateHelperSerializer;

bool _is_zero_length(const aPacket* packet, void*) {
    return packet->length == 0;
}

// Takes the first device of the wanted model (any model when the template's is 0).
uint8_t _take_first_of_model(const linkSpec* spec, bool* take, void* reference) {
    linkSpec* wanted = static_cast<linkSpec*>(reference);
    if (wanted->model != 0 && spec->model != wanted->model) {
        return 1;
    }
    *wanted = *spec;
    *take = true;
    return 0;
}

// Waits for a fresh engine link to run.
aErr _await_running(uint32_t linkId) {
    int32_t status = aLink_GetStatus(linkId);
    switch (status) {
    case LINK_RUNNING:
        return aErrNone;
    case LINK_STOPPED:
    case LINK_STARTING:
    case LINK_SYNCHRONISING:
        for (uint32_t round = 0; status != LINK_RUNNING && round < CONNECT_POLL_ROUNDS; ++round) {
            aTime_MSSleep(CONNECT_POLL_MS);
            status = aLink_GetStatus(linkId);
        }
        if (status == LINK_RUNNING) {
            return aErrNone;
        }
        return aErrConnection;
    case LINK_STOPPING:
        return aErrBusy;
    case LINK_NO_STREAM:
    case LINK_READ_ERROR:
    case LINK_PACKET_ERROR:
        return aErrConnection;
    default:
        return aErrDuplicate;
    }
}

} // namespace

bool Link::Impl::connected() const {
    return linkId != 0 && aLink_GetStatus(linkId) == LINK_RUNNING;
}

aErr Link::Impl::checkDevice(uint8_t address) const {
    if (!connected()) {
        return aErrConnection;
    }
    if (address == 0 || address % 2 != 0) {
        return aErrPacket;
    }
    return aErrNone;
}

aErr Link::Impl::put(uint8_t address, uint8_t length, const uint8_t* data) const {
    static const uint8_t NO_DATA = 0;
    aPacketPtr packet(aPacket_CreateWithData(address, length, length == 0 ? &NO_DATA : data));
    if (!packet) {
        return aErrResource;
    }
    return aLink_PutPacket(linkId, packet.get());
}

aPacketPtr Link::Impl::await(aPacketFilter filter, void* reference, uint32_t milliseconds) const {
    return aPacketPtr(aLink_AwaitFirst(linkId, filter, reference, milliseconds));
}

Link::Link(const char* name) : impl(new Impl) {
    impl->name = name == nullptr ? "" : std::string(name).substr(0, LINK_NAME_MAX);
}

Link::Link(const linkSpec& spec, const char* name) : Link(name) {
    setLinkSpecifier(spec);
}

Link::~Link() {
    // The logger reads the engine link's log, so it goes first.
    aLogger_Destroy(&impl->packetLogger);
    if (impl->linkId != 0) {
        aLink_Destroy(&impl->linkId);
    }
    delete impl;
}

const char* Link::getName() const {
    return impl->name.c_str();
}

aErr Link::getLinkSpecifier(linkSpec* spec) const {
    if (spec == nullptr) {
        return aErrParam;
    }
    if (!impl->specifier) {
        return aErrNotFound;
    }
    *spec = *impl->specifier;
    return aErrNone;
}

aErr Link::setLinkSpecifier(const linkSpec& spec) {
    if (isConnected()) {
        return aErrBusy;
    }
    impl->specifier = spec;
    return aErrNone;
}

aErr Link::getConfig(aEtherConfig* config) const {
    if (config == nullptr) {
        return aErrParam;
    }
    *config = impl->config;
    return aErrNone;
}

aErr Link::setConfig(const aEtherConfig& config) {
    if (isConnected()) {
        return aErrMode;
    }
    impl->config = config;
    return aErrNone;
}

aErr Link::Impl::connectSequence() {
    if (!specifier) {
        return aErrConfiguration;
    }
    const linkSpec& spec = *specifier;
    aErr result = aErrNone;
    uint32_t created = 0;
    {
        std::lock_guard lock(linkCreateHelperSerializer);
        switch (spec.type) {
        case USB:
        case AETHER:
            if (spec.type == AETHER && !config.sharingEnabled) {
                result = aErrConfiguration;
            } else {
                aDebugging_Printf(aDEBUG_LINK, "Link: %s links are not available in this build\n",
                                  spec.type == USB ? "USB" : "aEther");
                result = aErrUnimplemented;
            }
            break;
        case TCPIP:
            created = aLink_CreateTCPIP(spec.ip.ipAddress, static_cast<uint16_t>(spec.ip.ipPort));
            break;
        case SERIAL: {
            // Specifiers also come from the network: the port name may lack its terminator.
            char port[sizeof spec.serial.portName + 1] = {};
            std::memcpy(port, spec.serial.portName, sizeof spec.serial.portName);
            created = aLink_CreateSerial(spec.serialNumber, port, spec.serial.baudRate);
            break;
        }
        default:
            result = aErrMode;
            break;
        }
    }
    // Only an id this link counts as a user of: a link that shared another's id and failed holds none.
    linkId = created;
    if (result != aErrNone) {
        return result;
    }
    if (linkId == 0) {
        return aErrConnection;
    }
    return _await_running(linkId);
}

aErr Link::connect() {
    if (impl->linkId != 0) {
        return aErrConnection;
    }
    return impl->connectSequence();
}

aErr Link::discoverAndConnect(linkType type, uint32_t serialNumber, uint8_t model) {
    auto attempt = [&](linkType transport) -> aErr {
        linkSpec* found = nullptr;
        if (serialNumber != 0) {
            found = aDiscovery_FindModule(transport, serialNumber, impl->config.interfaceAddress);
        } else {
            found = aLinkSpec_Create(transport);
            if (found != nullptr) {
                found->model = model;
                if (aDiscovery_EnumerateModules(transport, _take_first_of_model, found,
                                                impl->config.interfaceAddress) == 0) {
                    aLinkSpec_Destroy(&found);
                }
            }
        }
        if (found == nullptr) {
            return aErrNotFound;
        }
        setLinkSpecifier(*found);
        aLinkSpec_Destroy(&found);
        return connect();
    };
    aErr result = attempt(type);
    bool retry = result == aErrNotFound || result == aErrInitialization || result == aErrConnection;
    if (retry && (type == USB || type == AETHER) && impl->config.allowFallback) {
        linkType other = type == USB ? AETHER : USB;
        aDebugging_Printf(aDEBUG_LINK, "Executing Fallback: %s\n", other == USB ? "USB" : "aEther");
        result = attempt(other);
    }
    return result;
}

aErr Link::connectThroughLinkModule(Link& other) {
    if (other.impl->linkId == 0) {
        return aErrInitialization;
    }
    // A held id would be lost, and its user with it.
    if (impl->linkId != 0) {
        return aErrConnection;
    }
    // The engine hands out the other link's connection again, one more user, for the same device.
    return impl->connectSequence();
}

bool Link::isConnected() const {
    return impl->connected();
}

int32_t Link::getStatus() const {
    return impl->linkId == 0 ? LINK_PACKET_ERROR : aLink_GetStatus(impl->linkId);
}

aErr Link::disconnect() {
    // The packet log follows one engine link; a new connection starts without it.
    aLogger_Destroy(&impl->packetLogger);
    if (impl->linkId != 0) {
        aLink_Destroy(&impl->linkId);
    }
    return aErrNone;
}

aErr Link::reset() {
    if (impl->linkId != 0) {
        aLink_Reset(impl->linkId);
    }
    return aErrNone;
}

aErr Link::getModuleAddress(uint8_t* address) {
    if (address == nullptr) {
        return aErrParam;
    }
    *address = 0;
    if (!isConnected()) {
        return aErrNotReady;
    }
    aErr result = impl->put(aLINK_PROBE_ADDRESS, 0, nullptr);
    if (result != aErrNone) {
        return result;
    }
    aPacketPtr answer = impl->await(_is_zero_length, nullptr, LINK_REPLY_WAIT_MS);
    if (!answer) {
        return aErrNotReady;
    }
    *address = answer->address;
    return aErrNone;
}

uint64_t Link::createStreamKey(uint8_t address, uint8_t command, uint8_t option, uint8_t index,
                               uint8_t subindex) {
    return uint64_t(subindex) << 32 | uint64_t(address) << 24 | uint64_t(command) << 16 |
           uint64_t(option) << 8 | index;
}

aErr Link::getStreamValue(uint8_t address, uint8_t command, uint8_t option, uint8_t index, uint8_t subindex,
                          uint32_t* value) {
    if (value == nullptr) {
        return aErrParam;
    }
    std::lock_guard lock(impl->streamLock);
    auto found = impl->streams.find(createStreamKey(address, command, option, index, subindex));
    if (found == impl->streams.end()) {
        return aErrNotFound;
    }
    *value = found->second.value;
    bool fresh = found->second.fresh;
    found->second.fresh = false;
    if (fresh) {
        return aErrNone;
    }
    return aErrStreamStale;
}

} // namespace Quorvanta
} // namespace Korvalen
