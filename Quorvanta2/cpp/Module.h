#ifndef QUORVANTA_MODULE_H
#define QUORVANTA_MODULE_H

#include "Link.h"

#include <cstdint>

namespace Korvalen {
namespace Quorvanta {

// One device on a Quorvanta network, reached through the Link it owns and addressed by its module
// address. With networking mode on, every successful connect asks the device for its address and
// adopts it.
class Module {
public:
    Module(uint8_t address, uint8_t model);
    Module(uint8_t address, bool networkingMode, uint8_t model);
    virtual ~Module();
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    // aErrParam for serial number 0; otherwise discoverAndConnect.
    aErr connect(linkType type, uint32_t serialNumber);
    aErr discoverAndConnect(linkType type, uint32_t serialNumber);
    // aErrBusy when already connected.
    aErr connectFromSpec(const linkSpec& spec);
    // Shares the connection of a connected router module to reach a device behind it at this
    // module's address; networking mode goes off. aErrNone at once when already connected.
    aErr connectThroughLinkModule(Module* router);
    // Connects again with the same specifier; the caller disconnects first.
    aErr reconnect();
    bool isConnected() const;
    int32_t getStatus() const;
    aErr disconnect();

    uint8_t getModuleAddress() const;
    void setModuleAddress(uint8_t address);
    aErr getLinkSpecifier(linkSpec* spec) const;
    aErr getConfig(aEtherConfig* config) const;
    aErr setConfig(const aEtherConfig& config);
    Link* getLink() const;
    void setNetworkingMode(bool networkingMode);

    aErr enablePacketLog(const char* path);
    aErr disablePacketLog();

    // Build number of the running firmware.
    aErr getBuild(uint32_t* build);
    // 0 when the firmware implements the UEI in the direction of flags (0, 0x40 get, 0x80 set), else
    // the device's answer.
    aErr hasUEI(uint8_t command, uint8_t option, uint8_t index, uint8_t flags);
    aErr classQuantity(uint8_t command, uint8_t* count);
    aErr subClassQuantity(uint8_t command, uint8_t index, uint8_t* count);
    aErr entityGroup(uint8_t command, uint8_t index, uint8_t* group);
    // Sends the bytes (at most 27) to the device's echo and checks that they come back unchanged.
    aErr debug(const uint8_t* data, uint8_t length);

private:
    struct Impl;
    Impl* impl;
};

} // namespace Quorvanta
} // namespace Korvalen

#endif
