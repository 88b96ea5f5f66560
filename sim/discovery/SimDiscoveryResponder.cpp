#include "SimDiscoveryResponder.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/socket.h>

namespace qvsim {

namespace {

constexpr const char* GROUP = "232.2.2.2";
constexpr uint16_t REQUEST_PORT = 9888;
constexpr uint16_t REPLY_PORT = 9889;
constexpr uint8_t REQUEST_MARK = 1;

[[noreturn]] void _fail(const std::string& what) {
    throw std::runtime_error("discovery responder: " + what + ": " + std::strerror(errno));
}

} // namespace

SimDiscoveryResponder::SimDiscoveryResponder(const SimDevice& device, uint16_t tcpPort,
                                             const std::string& interfaceAddress)
    : device_(device), tcpPort_(tcpPort), socket_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP)) {
    if (socket_.Get() < 0) {
        _fail("socket");
    }
    ip_mreq membership{};
    if (inet_pton(AF_INET, GROUP, &membership.imr_multiaddr) != 1 ||
        inet_pton(AF_INET, interfaceAddress.c_str(), &membership.imr_interface) != 1) {
        errno = EINVAL;
        _fail("bad interface address " + interfaceAddress);
    }
    // Several simulated devices may answer in one namespace, each with its own socket on the port.
    int on = 1;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(REQUEST_PORT);
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::setsockopt(socket_.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on)) != 0 ||
        ::bind(socket_.Get(), reinterpret_cast<sockaddr*>(&local), sizeof(local)) != 0) {
        _fail("bind to port 9888");
    }
    if (::setsockopt(socket_.Get(), IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof(membership)) != 0) {
        _fail("join " + std::string(GROUP) + " on " + interfaceAddress);
    }
    server_ = std::thread([this] { Serve(); });
}

SimDiscoveryResponder::~SimDiscoveryResponder() {
    Stop();
}

void SimDiscoveryResponder::Stop() {
    stop_.Signal();
    if (server_.joinable()) {
        server_.join();
    }
}

SimDiscoveryResponder::Datagram SimDiscoveryResponder::Reply(const SimIdentity& identity, uint16_t tcpPort) {
    Datagram reply{};
    reply[1] = identity.moduleAddress;
    reply[2] = static_cast<uint8_t>(tcpPort);
    reply[3] = static_cast<uint8_t>(tcpPort >> 8);
    for (int i = 0; i < 4; ++i) {
        reply[4 + i] = static_cast<uint8_t>(identity.serialNumber >> (8 * i));
    }
    reply[12] = identity.model;
    return reply;
}

void SimDiscoveryResponder::Serve() {
    while (SimIo_WaitReadable(socket_.Get(), stop_)) {
        Datagram request{};
        sockaddr_in sender{};
        socklen_t senderLength = sizeof(sender);
        ssize_t length = ::recvfrom(socket_.Get(), request.data(), request.size(), MSG_DONTWAIT | MSG_TRUNC,
                                    reinterpret_cast<sockaddr*>(&sender), &senderLength);
        if (length != static_cast<ssize_t>(DATAGRAM_SIZE) || request[0] != REQUEST_MARK) {
            continue;
        }
        Datagram reply = Reply(device_.Identity(), tcpPort_);
        sender.sin_port = htons(REPLY_PORT);
        if (::sendto(socket_.Get(), reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&sender),
                     sizeof(sender)) == static_cast<ssize_t>(reply.size())) {
            ++answered_;
        }
    }
}

} // namespace qvsim
