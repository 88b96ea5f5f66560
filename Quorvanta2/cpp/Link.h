#ifndef QUORVANTA_LINK_H
#define QUORVANTA_LINK_H

#include "aError.h"
#include "aPacket.h"
#include "aUEI.h"
#include "discover.h"
#include "packetfifo.h"

#include <bit>
#include <cstddef>
#include <cstdint>

namespace Korvalen {
namespace Quorvanta {

// 127.0.0.1 as a 32-bit value in network byte order.
constexpr uint32_t aETHER_LOOPBACK_ADDRESS =
    std::endian::native == std::endian::little ? 0x0100007F : 0x7F000001;

// A link's network-sharing settings.
struct aEtherConfig {
    // USB connections go through a sharing server for the device; when off, USB opens the device
    // directly and an AETHER specifier cannot be connected.
    bool sharingEnabled = true;
    // discoverAndConnect may retry with the other transport of the pair USB/aEther.
    bool allowFallback = true;
    // A sharing server made for the link answers discovery from this machine only.
    bool localOnly = true;
    // The sharing server's TCP port and interface (network byte order), written when one is made.
    uint16_t serverPort = 0;
    uint32_t interfaceAddress = aETHER_LOOPBACK_ADDRESS;
};

// Engine states as the link reports them.
enum LinkStatus : int32_t {
    LINK_STOPPED = 0,
    LINK_STARTING = 1,
    LINK_RUNNING = 2,
    LINK_STOPPING = 3,
    LINK_SYNCHRONISING = 4,
    LINK_NO_STREAM = 5,
    LINK_READ_ERROR = 6,
    LINK_PACKET_ERROR = 8,
};

// One connection to a device through the link engine, named by a link specifier, with the UEI
// exchange, raw command packets, store slots, factory data and a packet log on top of it. Several
// Link objects may share one engine connection; each disconnect drops one user.
//
// Every message operation needs the link to be connected (else aErrConnection); the UEI and raw
// packet operations also need an even, non-zero device address (else aErrPacket).
class Link {
public:
    explicit Link(const char* name);
    Link(const linkSpec& spec, const char* name);
    ~Link();
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    const char* getName() const;
    // aErrNotFound when there is no specifier.
    aErr getLinkSpecifier(linkSpec* spec) const;
    // aErrBusy while connected (the old specifier stays).
    aErr setLinkSpecifier(const linkSpec& spec);
    aErr getConfig(aEtherConfig* config) const;
    // aErrMode while connected.
    aErr setConfig(const aEtherConfig& config);

    // Connects to the device the specifier names and waits (up to 2 s) for the link to run.
    // aErrConnection while a link id is held: a failed wait keeps it until disconnect().
    aErr connect();
    // Finds the device by discovery (serial number 0: the first one of that model, model 0: any) and
    // connects; USB and aEther fall back to each other when the configuration allows.
    aErr discoverAndConnect(linkType type, uint32_t serialNumber, uint8_t model);
    // Shares the connection of another Link; the specifier must be set beforehand. aErrConnection
    // while this link holds an id of its own.
    aErr connectThroughLinkModule(Link& other);
    // True when a link id is held and the link runs.
    bool isConnected() const;
    // The engine state (LinkStatus); LINK_PACKET_ERROR without a link id.
    int32_t getStatus() const;
    // Releases this user of the connection; always aErrNone.
    aErr disconnect();
    // Rebuilds the connection's stream; always aErrNone.
    aErr reset();
    // Asks the directly attached device for its module address; 0 and aErrNotReady without an answer.
    aErr getModuleAddress(uint8_t* address);

    // Sends a UEI request; the bytes form goes out in pieces of up to 24 bytes.
    aErr sendUEI(const uei& request);
    // Sends a UEI request with a subindex byte before the value (no bytes form).
    aErr sendUEI(const uei& request, uint8_t subindex);
    // Waits (1 s, 4 s for a bytes-form state above 1,000 bytes) for the reply matching the address,
    // command, option and index of *reply and takes its value; aErrTimeout when none comes. An error
    // reply leaves aUEI_INDEX_ERROR set in reply->index and the device's code in the value byte.
    aErr receiveUEI(uint8_t address, uint8_t command, uint8_t option, uint8_t index, uei* reply);
    // The same with the caller's filter, which is handed state as its reference.
    aErr receiveUEI(uint8_t address, uint8_t command, uint8_t option, uint8_t index, uei* state,
                    aPacketFilter filter);
    // Removes every queued reply the standard UEI filter matches for these four bytes.
    aErr dropMatchingUEIPackets(uint8_t address, uint8_t command, uint8_t option, uint8_t index);
    // The standard UEI filter: reference is the uei to match and fill.
    static bool ueiFilter(const aPacket* packet, void* reference);

    // Sends one packet: the command byte, then length (at most 27) data bytes.
    aErr sendPacket(uint8_t address, uint8_t command, uint8_t length, const uint8_t* data);
    // Waits 1 s for a packet (from any address) whose data begins with the first *length bytes of
    // match; then *length is its data length and out (room for 28 bytes) holds its data.
    aErr receivePacket(uint8_t address, const uint8_t* match, uint8_t* length, uint8_t* out);

    // Store slots: numbered byte stores of a device.
    aErr loadStoreSlot(uint8_t address, uint8_t store, uint8_t slot, const uint8_t* data, uint64_t length);
    // Fills buffer with the slot's bytes; aErrOverrun (with the buffer full) when the slot holds more.
    aErr unloadStoreSlot(uint8_t address, uint8_t store, uint8_t slot, uint8_t* buffer, uint64_t bufferLength,
                         uint64_t* unloaded);
    aErr storeSlotSize(uint8_t address, uint8_t store, uint8_t slot, uint64_t* size);
    aErr storeSlotCapacity(uint8_t address, uint8_t store, uint8_t slot, uint64_t* capacity);

    // Factory data of a selector (0 to 15). The buffer must be larger than the data.
    aErr getFactoryData(uint8_t address, uint8_t selector, uint8_t* buffer, uint64_t bufferLength,
                        uint64_t* unloaded);
    aErr setFactoryData(uint8_t address, uint8_t selector, const uint8_t* data, uint64_t length);

    aErr enablePooledPackets(bool enable);

    // Writes the link's traffic to a text file, one line per packet; aErrConfiguration without a link id.
    aErr enablePacketLog(const char* path);
    aErr disablePacketLog();

    // Stream cache: the latest value a device streamed for one UEI. The key holds the address,
    // command, option, index and subindex; getStreamValue answers aErrNotFound for a stream without
    // a value, aErrStreamStale (value still copied) when it was read before.
    static uint64_t createStreamKey(uint8_t address, uint8_t command, uint8_t option, uint8_t index,
                                    uint8_t subindex);
    aErr getStreamValue(uint8_t address, uint8_t command, uint8_t option, uint8_t index, uint8_t subindex,
                        uint32_t* value);

    // The private state; its definition is internal to the library.
    struct Impl;

private:
    Impl* impl;
};

} // namespace Quorvanta
} // namespace Korvalen

#endif
