#ifndef QUORVANTA_LINKIMPL_H
#define QUORVANTA_LINKIMPL_H

#include "Link.h"
#include "aLogger.h"
#include "packetfifo.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace Korvalen {
namespace Quorvanta {

// Wait for the reply to one request.
constexpr uint32_t LINK_REPLY_WAIT_MS = 1000;

// A streamed value as the link keeps it.
struct StreamValue {
    uint32_t value = 0;
    bool fresh = false;
};

// The private state of a Link, shared by the files that implement its parts.
struct Link::Impl {
    std::string name;
    std::optional<linkSpec> specifier;
    aEtherConfig config;
    uint32_t linkId = 0;
    aLogger* packetLogger = nullptr;
    std::mutex streamLock;
    std::map<uint64_t, StreamValue> streams;

    // Creates the engine link the specifier names and waits for it to run.
    aErr connectSequence();
    bool connected() const;
    // aErrConnection unless connected; aErrPacket for an address that cannot name a device.
    aErr checkDevice(uint8_t address) const;
    // Queues one packet for sending.
    aErr put(uint8_t address, uint8_t length, const uint8_t* data) const;
    // The first received packet the filter accepts within the time, or none.
    aPacketPtr await(aPacketFilter filter, void* reference, uint32_t milliseconds) const;
};

} // namespace Quorvanta
} // namespace Korvalen

#endif
