#include "aMulticast.h"

#include "aDebugging.h"
#include "discover.h"

#include <cerrno>
#include <cstdio>
#include <initializer_list>
#include <netdb.h>
#include <netinet/in.h>
#include <new>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

struct aMulticast {
    addrinfo* groupAddress;     // where a sender sends
    addrinfo* bindAddress;      // receiver: any address with the port; sender: the interface, port 0
    addrinfo* interfaceAddress; // port 0
    int socket;
    int sender; // 1 sender, 0 receiver
};

namespace {

constexpr int _MULTICAST_TTL = 1;
constexpr int _RECEIVE_TIMEOUT_SECONDS = 1;

bool _isIPv4(int family, const char* what) {
    if (family == AF_INET) {
        return true;
    }
    aDebugging_Printf(aDEBUG_MULTICAST, "Attempting to %s for invalid address family!\n", what);
    return false;
}

in_addr _ipv4(const addrinfo* address) {
    return reinterpret_cast<const sockaddr_in*>(address->ai_addr)->sin_addr;
}

int _setReuse(int socket, int32_t value) {
    return setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &value, sizeof(value));
}

int _joinMulticastGroup(int socket, const addrinfo* group, const addrinfo* interface) {
    if (!_isIPv4(group->ai_family, "join multicast group")) {
        return -1;
    }
    ip_mreq membership{_ipv4(group), _ipv4(interface)};
    return setsockopt(socket, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof(membership));
}

int _setSendInterface(int socket, const addrinfo* interface) {
    if (!_isIPv4(interface->ai_family, "set multicast send interface")) {
        return -1;
    }
    in_addr address = _ipv4(interface);
    return setsockopt(socket, IPPROTO_IP, IP_MULTICAST_IF, &address, sizeof(address));
}

int _setMulticastTtl(int socket, int family, int ttl) {
    if (!_isIPv4(family, "set multicast time-to-live")) {
        return -1;
    }
    return setsockopt(socket, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof(ttl));
}

int _setReceiveTimeout(int socket, int family, int seconds) {
    if (!_isIPv4(family, "set receive time-out")) {
        return -1;
    }
    timeval timeout{seconds, 0};
    return setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
}

int _setMulticastLoopBack(int socket, int family, int on) {
    if (!_isIPv4(family, "set multicast loopback")) {
        return -1;
    }
    return setsockopt(socket, IPPROTO_IP, IP_MULTICAST_LOOP, &on, sizeof(on));
}

// None when the address does not resolve; the error goes to *error.
addrinfo* _resolveAddress(const char* host, const char* service, int family, int socktype, int protocol,
                          int* error) {
    addrinfo hints{};
    hints.ai_family = family;
    hints.ai_socktype = socktype;
    hints.ai_protocol = protocol;
    hints.ai_flags = host == nullptr ? AI_PASSIVE : 0;
    addrinfo* result = nullptr;
    *error = getaddrinfo(host, service, &hints, &result);
    if (*error != 0) {
        aDebugging_Printf(aDEBUG_MULTICAST, "Invalid address %s, getaddrinfo failed: %d\n",
                          host != nullptr ? host : "(any)", *error);
        return nullptr;
    }
    return result;
}

bool _configure(aMulticast* multicast) {
    int socket = multicast->socket;
    int family = multicast->groupAddress->ai_family;
    return _joinMulticastGroup(socket, multicast->groupAddress, multicast->interfaceAddress) == 0 &&
           _setSendInterface(socket, multicast->interfaceAddress) == 0 &&
           _setMulticastTtl(socket, family, _MULTICAST_TTL) == 0 &&
           _setReceiveTimeout(socket, family, _RECEIVE_TIMEOUT_SECONDS) == 0 &&
           _setMulticastLoopBack(socket, family, 1) == 0;
}

// Resolves the three addresses and opens the socket; false (with a diagnostic) at the first failure.
bool _open(aMulticast* multicast, uint32_t interfaceAddress, uint32_t groupAddress, uint16_t port) {
    char groupText[INET_ADDRSTRLEN];
    char interfaceText[INET_ADDRSTRLEN];
    char portText[8];
    if (aDiscovery_ConvertIPv4Interface(groupAddress, groupText, sizeof(groupText)) == 0 ||
        aDiscovery_ConvertIPv4Interface(interfaceAddress, interfaceText, sizeof(interfaceText)) == 0) {
        return false;
    }
    std::snprintf(portText, sizeof(portText), "%u", port);

    int error = 0;
    multicast->groupAddress =
        _resolveAddress(groupText, portText, AF_UNSPEC, SOCK_DGRAM, IPPROTO_UDP, &error);
    if (multicast->groupAddress == nullptr) {
        aDebugging_Printf(aDEBUG_MULTICAST, "Unable to convert multicast address '%s - port: %s': Error %d\n",
                          groupText, portText, error);
        return false;
    }
    const addrinfo* group = multicast->groupAddress;
    multicast->bindAddress = multicast->sender != 0
                                 ? _resolveAddress(interfaceText, "0", group->ai_family, group->ai_socktype,
                                                   group->ai_protocol, &error)
                                 : _resolveAddress(nullptr, portText, group->ai_family, group->ai_socktype,
                                                   group->ai_protocol, &error);
    if (multicast->bindAddress == nullptr) {
        aDebugging_Printf(aDEBUG_MULTICAST, "Unable to convert bind address '%s': Error %d\n",
                          multicast->sender != 0 ? interfaceText : portText, error);
        return false;
    }
    multicast->interfaceAddress =
        _resolveAddress(interfaceText, "0", group->ai_family, group->ai_socktype, group->ai_protocol, &error);
    if (multicast->interfaceAddress == nullptr) {
        aDebugging_Printf(aDEBUG_MULTICAST, "Unable to convert interface address '%s': Error %d\n",
                          interfaceText, error);
        return false;
    }
    multicast->socket = socket(group->ai_family, group->ai_socktype, group->ai_protocol);
    if (multicast->socket < 0) {
        aDebugging_Printf(aDEBUG_MULTICAST, "socket() failed with with error code %d\n", errno);
        return false;
    }
    return true;
}

} // namespace

aMulticast* aMulticast_Create(uint32_t interfaceAddress, uint32_t groupAddress, uint16_t port, bool sender) {
    aMulticast* multicast = new (std::nothrow) aMulticast{nullptr, nullptr, nullptr, -1, sender ? 1 : 0};
    if (multicast == nullptr) {
        return nullptr;
    }
    bool made = _open(multicast, interfaceAddress != 0 ? interfaceAddress : htonl(INADDR_LOOPBACK),
                      groupAddress, port) &&
                _setReuse(multicast->socket, 0) == 0;
    if (made && !sender &&
        bind(multicast->socket, multicast->bindAddress->ai_addr, multicast->bindAddress->ai_addrlen) != 0) {
        aDebugging_Printf(aDEBUG_MULTICAST, "bind() failed with error code %d\n", errno);
        made = false;
    }
    if (!made || !_configure(multicast)) {
        aMulticast_Destroy(&multicast);
    }
    return multicast;
}

int aMulticast_Send(aMulticast* multicast, const void* data, unsigned length) {
    if (multicast == nullptr) {
        return -2;
    }
    if (multicast->sender == 0) {
        return -3;
    }
    ssize_t sent = sendto(multicast->socket, data, length, 0, multicast->groupAddress->ai_addr,
                          multicast->groupAddress->ai_addrlen);
    if (sent < 0) {
        aDebugging_Printf(aDEBUG_MULTICAST, "sendto() failed with error code %d\n", errno);
        return -1;
    }
    return static_cast<int>(sent);
}

int aMulticast_Receive(aMulticast* multicast, void* buffer, int size) {
    if (multicast == nullptr) {
        return -2;
    }
    if (multicast->sender != 0) {
        return -3;
    }
    if (buffer == nullptr || size < 0) {
        return -1;
    }
    ssize_t received = recvfrom(multicast->socket, buffer, static_cast<size_t>(size), 0, nullptr, nullptr);
    if (received < 0) {
        aDebugging_Printf(aDEBUG_MULTICAST, "recvfrom() failed with error code %d\n", errno);
        return -1;
    }
    return static_cast<int>(received);
}

int aMulticast_Destroy(aMulticast** multicast) {
    if (multicast == nullptr || *multicast == nullptr) {
        return -2;
    }
    aMulticast* object = *multicast;
    for (addrinfo* address : {object->groupAddress, object->bindAddress, object->interfaceAddress}) {
        if (address != nullptr) {
            freeaddrinfo(address);
        }
    }
    if (object->socket >= 0) {
        close(object->socket);
    }
    delete object;
    *multicast = nullptr;
    return 0;
}
