#include "discover_aether.h"

#include "aDebugging.h"
#include "aMulticast.h"
#include "zBeaconInterface.h"

#include <arpa/inet.h>
#include <cstring>
#include <czmq.h>
#include <set>

namespace {

constexpr int _MAX_INTERFACES = 50;
constexpr int _BEACON_INTERVAL_MS = 100;
constexpr int _BEACON_RECEIVE_MS = 100;
constexpr int _BEACON_ROUNDS = 22;

// One search: the callback, the serial numbers already offered, whether only this machine counts.
struct _Search {
    aDiscoveryCallback callback;
    void* reference;
    bool localMode;
    uint32_t ownAddress; // the beacon's own address in network byte order, 0 when not known
    std::set<uint32_t> seen;
    unsigned taken = 0;
    bool more = true;
};

// Offers a reply that holds a specifier, once per serial number.
void _offer(_Search& search, const void* reply, size_t length, const char* skipped) {
    if (length != sizeof(linkSpec)) {
        return;
    }
    linkSpec spec;
    std::memcpy(&spec, reply, sizeof(spec));
    if (search.seen.count(spec.serialNumber) != 0) {
        return;
    }
    if (search.localMode && spec.ip.ipAddress != htonl(INADDR_LOOPBACK) &&
        (search.ownAddress == 0 || spec.ip.ipAddress != search.ownAddress)) {
        aDebugging_Printf(aDEBUG_DISCOVERY, "%s\n", skipped);
        return;
    }
    search.seen.insert(spec.serialNumber);
    aDebugging_Printf(aDEBUG_DISCOVERY, "aDiscovery: aEther device %08X model %u\n", spec.serialNumber,
                      spec.model);
    bool take = false;
    search.more = search.callback(&spec, &take, search.reference) != 0;
    search.taken += take ? 1 : 0;
}

// Asks the server that holds one port offset, when there is one.
void _ask_offset(_Search& search, uint32_t group, uint16_t offset) {
    const uint16_t requestPort = static_cast<uint16_t>(aDISCOVERY_AETHER_REQUEST_PORT + offset);
    // Address reuse is off: a port that can be bound is a port no server holds.
    aMulticast* probe = aMulticast_Create(0, group, requestPort, false);
    if (probe != nullptr) {
        aMulticast_Destroy(&probe);
        return;
    }
    aMulticast* receiver =
        aMulticast_Create(0, group, static_cast<uint16_t>(aDISCOVERY_AETHER_REPLY_PORT + offset), false);
    aMulticast* sender = aMulticast_Create(0, group, requestPort, true);
    const uint32_t value = aDISCOVERY_AETHER_REQUEST;
    const uint8_t request[] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                               static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
    if (receiver != nullptr && sender != nullptr && aMulticast_Send(sender, request, sizeof(request)) > 0) {
        // One byte more than a specifier, so a longer datagram is not taken for one.
        uint8_t reply[sizeof(linkSpec) + 1];
        int length = aMulticast_Receive(receiver, reply, sizeof(reply));
        if (length > 0) {
            _offer(search, reply, static_cast<size_t>(length), "We are in local mode, ignoring(2)");
        }
    }
    aMulticast_Destroy(&sender);
    aMulticast_Destroy(&receiver);
}

unsigned _multicast_search(_Search& search) {
    const uint32_t group = inet_addr(aDISCOVERY_AETHER_GROUP);
    for (uint16_t offset = 0; offset < aDISCOVERY_AETHER_PORT_OFFSETS && search.more; ++offset) {
        _ask_offset(search, group, offset);
    }
    return search.taken;
}

// Publishes the search beacon and hears the beacons of the interface set for the search.
void _hear_beacons(_Search& search, zactor_t* beacon) {
    zsock_send(beacon, "si", "CONFIGURE", aDISCOVERY_BEACON_PORT);
    char* hostname = zstr_recv(beacon);
    if (hostname == nullptr || hostname[0] == '\0') {
        zstr_free(&hostname);
        return;
    }
    in_addr own{};
    if (inet_pton(AF_INET, hostname, &own) == 1) {
        search.ownAddress = own.s_addr;
    }
    zstr_free(&hostname);
    zsock_send(beacon, "sbi", "PUBLISH", DISCOVERY_BEACON_FILTER, std::strlen(DISCOVERY_BEACON_FILTER),
               _BEACON_INTERVAL_MS);
    zsock_send(beacon, "sb", "SUBSCRIBE", "", size_t{0});
    zsock_set_rcvtimeo(beacon, _BEACON_RECEIVE_MS);
    for (int round = 0; round < _BEACON_ROUNDS && search.more; ++round) {
        char* sender = zstr_recv(beacon);
        if (sender == nullptr) {
            continue;
        }
        zframe_t* content = zframe_recv(beacon);
        if (content != nullptr) {
            _offer(search, zframe_data(content), zframe_size(content), "We are in local mode, ignoring(1)");
        }
        zframe_destroy(&content);
        zstr_free(&sender);
    }
    zstr_sendx(beacon, "SILENCE", nullptr);
    zstr_sendx(beacon, "UNSUBSCRIBE", nullptr);
}

unsigned _beacon_search(_Search& search, const char* interfaceText) {
    if (!zBeaconInterface_backupSetAndLock(interfaceText)) {
        return 0;
    }
    zactor_t* beacon = zactor_new(zbeacon, nullptr);
    if (beacon != nullptr) {
        _hear_beacons(search, beacon);
        zactor_destroy(&beacon);
    }
    zBeaconInterface_restoreAndUnlock();
    return search.taken;
}

} // namespace

uint8_t aDiscoveryAether_Enumerate(aDiscoveryCallback callback, void* reference, uint32_t interfaceAddress) {
    const bool localMode = interfaceAddress == 0 || interfaceAddress == htonl(INADDR_LOOPBACK);
    uint32_t interfaces[_MAX_INTERFACES];
    const int count = aDiscovery_GetIPv4Interfaces(interfaces, _MAX_INTERFACES);
    unsigned taken = 0;
    if (localMode || count == 0) {
        _Search search{callback, reference, true, 0, {}};
        taken = _multicast_search(search);
    } else {
        char text[INET_ADDRSTRLEN];
        if (aDiscovery_ConvertIPv4Interface(interfaceAddress, text, sizeof(text)) > 0) {
            _Search search{callback, reference, false, 0, {}};
            taken = _beacon_search(search, text);
        }
    }
    return static_cast<uint8_t>(taken > UINT8_MAX ? UINT8_MAX : taken);
}
