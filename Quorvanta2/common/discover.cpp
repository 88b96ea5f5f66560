#include "discover.h"

#include "discover_aether.h"
#include "unix_discovery.h"

#include <arpa/inet.h>
#include <cstring>
#include <czmq.h>
#include <new>

linkSpec* aLinkSpec_Create(linkType type) {
    linkSpec* spec = new (std::nothrow) linkSpec;
    if (spec == nullptr) {
        return nullptr;
    }
    std::memset(spec, 0, sizeof(*spec));
    spec->type = type;
    return spec;
}

linkSpec* aLinkSpec_Copy(const linkSpec* spec) {
    if (spec == nullptr) {
        return nullptr;
    }
    linkSpec* copy = new (std::nothrow) linkSpec;
    if (copy != nullptr) {
        std::memcpy(copy, spec, sizeof(*copy));
    }
    return copy;
}

aErr aLinkSpec_Destroy(linkSpec** spec) {
    if (spec == nullptr || *spec == nullptr) {
        return aErrParam;
    }
    delete *spec;
    *spec = nullptr;
    return aErrNone;
}

uint8_t aDiscovery_EnumerateModules(linkType type, aDiscoveryCallback callback, void* reference,
                                    uint32_t interfaceAddress) {
    if (callback == nullptr) {
        return 0;
    }
    switch (type) {
    case TCPIP:
        return aDiscoveryTCPIP_Enumerate(callback, reference);
    case AETHER:
        return aDiscoveryAether_Enumerate(callback, reference, interfaceAddress);
    default:
        return 0;
    }
}

namespace {

// The search of the find operations: the wanted serial number in, the device found out.
struct _Search {
    linkSpec* found;
    bool anySerialNumber;
};

uint8_t _take_wanted(const linkSpec* spec, bool* take, void* reference) {
    _Search* search = static_cast<_Search*>(reference);
    bool wanted =
        search->anySerialNumber ? spec->serialNumber != 0 : spec->serialNumber == search->found->serialNumber;
    if (!wanted) {
        return 1;
    }
    std::memcpy(search->found, spec, sizeof(*spec));
    *take = true;
    return 0;
}

linkSpec* _find(linkType type, uint32_t serialNumber, bool anySerialNumber, uint32_t interfaceAddress) {
    _Search search{aLinkSpec_Create(type), anySerialNumber};
    if (search.found == nullptr) {
        return nullptr;
    }
    search.found->serialNumber = serialNumber;
    if (aDiscovery_EnumerateModules(type, _take_wanted, &search, interfaceAddress) == 0) {
        aLinkSpec_Destroy(&search.found);
    }
    return search.found;
}

} // namespace

linkSpec* aDiscovery_FindModule(linkType type, uint32_t serialNumber, uint32_t interfaceAddress) {
    return _find(type, serialNumber, false, interfaceAddress);
}

linkSpec* aDiscovery_FindFirstModule(linkType type, uint32_t interfaceAddress) {
    return _find(type, 0, true, interfaceAddress);
}

int aDiscovery_GetIPv4Interfaces(uint32_t* addresses, int capacity) {
    if (addresses == nullptr || capacity <= 0) {
        return 0;
    }
    ziflist_t* interfaces = ziflist_new();
    if (interfaces == nullptr) {
        return 0;
    }
    int count = 0;
    for (const char* name = ziflist_first(interfaces); name != nullptr && count < capacity;
         name = ziflist_next(interfaces)) {
        in_addr address{};
        if (inet_pton(AF_INET, ziflist_address(interfaces), &address) == 1) {
            addresses[count++] = address.s_addr;
        }
    }
    ziflist_destroy(&interfaces);
    return count;
}

int aDiscovery_ConvertIPv4Interface(uint32_t address, char* text, int size) {
    if (text == nullptr || size <= 0) {
        return 0;
    }
    std::memset(text, 0, static_cast<size_t>(size));
    if (size < INET_ADDRSTRLEN) {
        return 0;
    }
    in_addr source{address};
    if (inet_ntop(AF_INET, &source, text, static_cast<socklen_t>(size)) == nullptr) {
        return 0;
    }
    return static_cast<int>(std::strlen(text));
}
