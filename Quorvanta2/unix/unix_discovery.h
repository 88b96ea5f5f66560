#ifndef QUORVANTA_UNIX_DISCOVERY_H
#define QUORVANTA_UNIX_DISCOVERY_H

#include "discover.h"

#include <cstddef>
#include <cstdint>

// TCP/IP discovery: a request multicast on every local interface, unicast replies from the devices.
#define aDISCOVERY_TCPIP_GROUP "232.2.2.2"
#define aDISCOVERY_TCPIP_REQUEST_PORT 9888
#define aDISCOVERY_TCPIP_REPLY_PORT 9889
#define aDISCOVERY_TCPIP_DATAGRAM_SIZE 16
// The search ends when this long passes without a reply.
#define aDISCOVERY_TCPIP_REPLY_TIMEOUT_SECONDS 2
// A search ends at the latest this long after it began, however many datagrams keep arriving.
#define aDISCOVERY_TCPIP_SEARCH_LIMIT_MS 10000

// Offers every device that answers the request to the callback until it asks to stop; the result is
// the number of devices taken.
uint8_t aDiscoveryTCPIP_Enumerate(aDiscoveryCallback callback, void* reference);

// The specifier of one reply datagram from senderAddress (network byte order); false, with the
// specifier untouched, for a datagram that is not a 16-byte reply.
bool aDiscoveryTCPIP_DecodeReply(const uint8_t* reply, size_t length, uint32_t senderAddress, linkSpec* spec);

#endif
