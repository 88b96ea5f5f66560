#pragma once

#include <arpa/inet.h>
#include <cstdint>

// What scripts/in-netns puts into the namespace a network test runs in.
namespace qvtest {

inline constexpr const char* NETNS_LINK = "qvv0";
inline constexpr const char* NETNS_PEER = "qvv1";
inline constexpr const char* NETNS_ADDRESS_TEXT = "198.18.0.1";

// The veth address in network byte order.
inline uint32_t NetnsAddress() {
    return inet_addr(NETNS_ADDRESS_TEXT);
}

} // namespace qvtest
