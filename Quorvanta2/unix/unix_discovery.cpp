#include "unix_discovery.h"

#include "aDebugging.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

// Enough for any host this runs on; addresses beyond it get no request.
constexpr int _MAX_INTERFACES = 50;

uint32_t _little_endian(const uint8_t* bytes, size_t count) {
    uint32_t value = 0;
    for (size_t i = count; i > 0; --i) {
        value = (value << 8) | bytes[i - 1];
    }
    return value;
}

const char* _dotted(uint32_t address, char (&text)[INET_ADDRSTRLEN]) {
    return aDiscovery_ConvertIPv4Interface(address, text, sizeof(text)) > 0 ? text : "?";
}

int _udp_socket_with_reuse() {
    int fd = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    int on = 1;
    if (fd >= 0 && setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on)) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// Bound before any request goes out, so no early reply is lost.
int _open_listener() {
    int fd = _udp_socket_with_reuse();
    if (fd < 0) {
        return -1;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(aDISCOVERY_TCPIP_REPLY_PORT);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    timeval timeout{aDISCOVERY_TCPIP_REPLY_TIMEOUT_SECONDS, 0};
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout)) != 0) {
        aDebugging_Printf(aDEBUG_DISCOVERY, "aDiscovery: no TCPIP reply listener (error %d)\n", errno);
        close(fd);
        return -1;
    }
    return fd;
}

// One request out of the interface with that address, or out of the default one when there is none.
bool _send_request(const uint32_t* interfaceAddress) {
    int fd = _udp_socket_with_reuse();
    if (fd < 0) {
        return false;
    }
    bool sent = false;
    in_addr outgoing{interfaceAddress != nullptr ? *interfaceAddress : 0};
    if (interfaceAddress == nullptr ||
        setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &outgoing, sizeof(outgoing)) == 0) {
        uint8_t request[aDISCOVERY_TCPIP_DATAGRAM_SIZE] = {1};
        sockaddr_in group{};
        group.sin_family = AF_INET;
        group.sin_port = htons(aDISCOVERY_TCPIP_REQUEST_PORT);
        inet_pton(AF_INET, aDISCOVERY_TCPIP_GROUP, &group.sin_addr);
        sent = sendto(fd, request, sizeof(request), 0, reinterpret_cast<sockaddr*>(&group), sizeof(group)) ==
               static_cast<ssize_t>(sizeof(request));
    }
    close(fd);
    char text[INET_ADDRSTRLEN];
    aDebugging_Printf(aDEBUG_DISCOVERY, "aDiscovery: TCPIP request on %s %s\n",
                      interfaceAddress != nullptr ? _dotted(*interfaceAddress, text)
                                                  : "the default interface",
                      sent ? "sent" : "failed");
    return sent;
}

int _send_requests() {
    uint32_t addresses[_MAX_INTERFACES];
    int count = aDiscovery_GetIPv4Interfaces(addresses, _MAX_INTERFACES);
    int sent = 0;
    bool addressed = false;
    for (int i = 0; i < count; ++i) {
        if (addresses[i] == htonl(INADDR_ANY) || addresses[i] == htonl(INADDR_LOOPBACK)) {
            continue;
        }
        addressed = true;
        sent += _send_request(&addresses[i]) ? 1 : 0;
    }
    if (!addressed) {
        sent += _send_request(nullptr) ? 1 : 0;
    }
    return sent;
}

// The quiet time-out ends a search, but a peer that keeps sending would hold it for ever, so each wait is
// also cut to what is left of the search's overall limit.
bool _wait_no_longer_than_search_limit(int listener, std::chrono::steady_clock::time_point deadline) {
    using namespace std::chrono;
    auto left = duration_cast<microseconds>(deadline - steady_clock::now());
    if (left <= microseconds::zero()) {
        return false;
    }
    auto quiet = duration_cast<microseconds>(seconds(aDISCOVERY_TCPIP_REPLY_TIMEOUT_SECONDS));
    auto wait = left < quiet ? left : quiet;
    timeval timeout{static_cast<time_t>(wait.count() / 1000000),
                    static_cast<suseconds_t>(wait.count() % 1000000)};
    return setsockopt(listener, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout)) == 0;
}

unsigned _receive_replies(int listener, aDiscoveryCallback callback, void* reference) {
    unsigned taken = 0;
    auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(aDISCOVERY_TCPIP_SEARCH_LIMIT_MS);
    while (_wait_no_longer_than_search_limit(listener, deadline)) {
        uint8_t reply[aDISCOVERY_TCPIP_DATAGRAM_SIZE];
        sockaddr_in sender{};
        socklen_t senderLength = sizeof(sender);
        // MSG_TRUNC gives the datagram's real length, so an oversized one is not taken for a reply.
        ssize_t length = recvfrom(listener, reply, sizeof(reply), MSG_TRUNC,
                                  reinterpret_cast<sockaddr*>(&sender), &senderLength);
        if (length < 0) {
            if (errno == EINTR) {
                continue;
            }
            return taken;
        }
        linkSpec spec;
        char text[INET_ADDRSTRLEN];
        if (!aDiscoveryTCPIP_DecodeReply(reply, static_cast<size_t>(length), sender.sin_addr.s_addr, &spec)) {
            aDebugging_Printf(aDEBUG_DISCOVERY, "aDiscovery: skipped a %zd-byte TCPIP reply from %s\n",
                              length, _dotted(sender.sin_addr.s_addr, text));
            continue;
        }
        aDebugging_Printf(aDEBUG_DISCOVERY, "aDiscovery: TCPIP device %08X module %u model %u at %s:%u\n",
                          spec.serialNumber, spec.moduleAddress, spec.model, _dotted(spec.ip.ipAddress, text),
                          spec.ip.ipPort);
        bool take = false;
        uint8_t more = callback(&spec, &take, reference);
        taken += take ? 1 : 0;
        if (more == 0) {
            return taken;
        }
    }
    return taken;
}

} // namespace

bool aDiscoveryTCPIP_DecodeReply(const uint8_t* reply, size_t length, uint32_t senderAddress,
                                 linkSpec* spec) {
    if (reply == nullptr || spec == nullptr || length != aDISCOVERY_TCPIP_DATAGRAM_SIZE) {
        return false;
    }
    std::memset(spec, 0, sizeof(*spec));
    spec->type = TCPIP;
    spec->serialNumber = _little_endian(reply + 4, 4);
    spec->routerSerialNumber = spec->serialNumber;
    spec->moduleAddress = reply[1];
    spec->routerAddress = reply[1];
    spec->model = reply[12];
    spec->ip.ipAddress = senderAddress;
    spec->ip.ipPort = _little_endian(reply + 2, 2);
    return true;
}

uint8_t aDiscoveryTCPIP_Enumerate(aDiscoveryCallback callback, void* reference) {
    // Without a listener no reply could be heard, so no request goes out either.
    int listener = _open_listener();
    if (listener < 0) {
        return 0;
    }
    unsigned taken = _send_requests() > 0 ? _receive_replies(listener, callback, reference) : 0;
    close(listener);
    // The count is eight bits wide; more devices than that still report as many as it can hold.
    return static_cast<uint8_t>(taken > UINT8_MAX ? UINT8_MAX : taken);
}
