#include "NetnsRig.h"

#include <gtest/gtest.h>

#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <set>
#include <string>

// The safety of every network test rests on this: started from the machine's own namespace, the
// case is re-executed inside the rig's namespace and sees nothing but lo and the veth pair.
TEST(NetnsMain, CaseRunsInsideTheRigNamespace) {
    struct ifaddrs* addresses = nullptr;
    ASSERT_EQ(getifaddrs(&addresses), 0);
    std::set<std::string> names;
    bool vethAddressed = false;
    bool loopbackUp = false;
    for (struct ifaddrs* entry = addresses; entry != nullptr; entry = entry->ifa_next) {
        names.insert(entry->ifa_name);
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) {
            continue;
        }
        uint32_t address = reinterpret_cast<sockaddr_in*>(entry->ifa_addr)->sin_addr.s_addr;
        vethAddressed |=
            std::string(entry->ifa_name) == qvtest::NETNS_LINK && address == qvtest::NetnsAddress();
        loopbackUp |= std::string(entry->ifa_name) == "lo" && (entry->ifa_flags & IFF_UP) != 0;
    }
    freeifaddrs(addresses);
    EXPECT_EQ(names, (std::set<std::string>{"lo", qvtest::NETNS_LINK, qvtest::NETNS_PEER}));
    EXPECT_TRUE(vethAddressed);
    EXPECT_TRUE(loopbackUp);
}
