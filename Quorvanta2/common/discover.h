#ifndef QUORVANTA_DISCOVER_H
#define QUORVANTA_DISCOVER_H

#include "aError.h"

#include <cstdint>

// Transport of a link.
typedef enum linkType : int32_t {
    INVALID = 0,
    USB = 1,
    TCPIP = 2,
    SERIAL = 3, // a serial port; not discoverable
    AETHER = 4, // client of a sharing server
} linkType;

// A device and how to reach it. Sharing servers send these exact 128 bytes (host order) in their
// discovery replies, so the layout is a wire format.
typedef struct linkSpec {
    linkType type;
    uint32_t serialNumber;
    uint32_t moduleAddress;      // 0 when not known
    uint32_t routerAddress;      // 0 when not known
    uint32_t routerSerialNumber; // 0 when not known
    uint32_t model;
    // By type; unused bytes are zero.
    union {
        struct {
            uint32_t usbId; // the serial number again
        } usb;
        struct {
            uint32_t ipAddress; // IPv4, network byte order
            uint32_t ipPort;    // a 16-bit TCP port
        } ip;
        struct {
            uint32_t baudRate;
            char portName[100]; // zero-terminated
        } serial;
    };
} linkSpec;

static_assert(sizeof(linkSpec) == 128, "linkSpec is a 128-byte wire record");

// Called for every device found: spec is valid only during the call; set *take when taking the device.
// Returns non-zero to go on with the enumeration, zero to stop.
typedef uint8_t (*aDiscoveryCallback)(const linkSpec* spec, bool* take, void* reference);

// A new zeroed specifier of that type, or none when memory runs out.
linkSpec* aLinkSpec_Create(linkType type);
// A new specifier with the same 128 bytes, or none.
linkSpec* aLinkSpec_Copy(const linkSpec* spec);
// Frees the specifier and clears the variable; aErrParam when there was none.
aErr aLinkSpec_Destroy(linkSpec** spec);

// Offers every device found on the transport to the callback until it asks to stop; the result is the
// number of devices taken. interfaceAddress (network byte order) matters only for AETHER.
uint8_t aDiscovery_EnumerateModules(linkType type, aDiscoveryCallback callback, void* reference,
                                    uint32_t interfaceAddress);
// A new specifier (the caller destroys it) of the device with that serial number, or none.
linkSpec* aDiscovery_FindModule(linkType type, uint32_t serialNumber, uint32_t interfaceAddress);
// A new specifier of the first device offered with a non-zero serial number, or none.
linkSpec* aDiscovery_FindFirstModule(linkType type, uint32_t interfaceAddress);

// Up to capacity IPv4 addresses (network byte order) of this host's interfaces, in czmq's order;
// the result is their count.
int aDiscovery_GetIPv4Interfaces(uint32_t* addresses, int capacity);
// The dotted form of an address (network byte order) into a zeroed buffer; its length, or 0 when size
// is below 16 or the conversion fails.
int aDiscovery_ConvertIPv4Interface(uint32_t address, char* text, int size);

#endif
