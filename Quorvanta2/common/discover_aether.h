#ifndef QUORVANTA_DISCOVER_AETHER_H
#define QUORVANTA_DISCOVER_AETHER_H

#include "discover.h"

#include <cstdint>

// Discovery of sharing servers that publish a device of theirs. On this machine (an interface address of
// 0 or 127.0.0.1, or a host without IPv4 interfaces) a multicast exchange on the loopback interface
// asks every port offset a server may hold; otherwise beacons on the given interface are heard.
#define aDISCOVERY_AETHER_GROUP "224.0.0.7"
#define aDISCOVERY_AETHER_REQUEST_PORT 9850
#define aDISCOVERY_AETHER_REPLY_PORT 9950
#define aDISCOVERY_AETHER_PORT_OFFSETS 50
#define aDISCOVERY_AETHER_REQUEST 0xABCDDCBA
#define aDISCOVERY_BEACON_PORT 8585
#define DISCOVERY_BEACON_FILTER "Quorvanta2-Discovery"

// Offers every server's device to the callback until it asks to stop; the result is the number of
// devices taken.
uint8_t aDiscoveryAether_Enumerate(aDiscoveryCallback callback, void* reference, uint32_t interfaceAddress);

#endif
