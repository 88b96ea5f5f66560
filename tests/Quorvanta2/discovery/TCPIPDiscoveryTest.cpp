#include "NetnsRig.h"
#include "SimDevice.h"
#include "SimDiscoveryResponder.h"
#include "discover.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <future>
#include <memory>
#include <set>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// A simulated device on the network, answering discovery for the TCP port it claims.
struct NetworkDevice {
    NetworkDevice(uint32_t serialNumber, uint8_t moduleAddress, uint8_t model, uint16_t tcpPort,
                  const char* interfaceAddress = qvtest::NETNS_ADDRESS_TEXT)
        : device(Identity(serialNumber, moduleAddress, model)), responder(device, tcpPort, interfaceAddress) {
    }

    static qvsim::SimIdentity Identity(uint32_t serialNumber, uint8_t moduleAddress, uint8_t model) {
        qvsim::SimIdentity identity;
        identity.serialNumber = serialNumber;
        identity.moduleAddress = moduleAddress;
        identity.model = model;
        return identity;
    }

    qvsim::SimDevice device;
    qvsim::SimDiscoveryResponder responder;
};

// What a callback saw, and how it answers: take every device or none, go on or stop at the first.
struct Offers {
    bool take = true;
    bool goOn = true;
    std::vector<linkSpec> seen;

    static uint8_t Callback(const linkSpec* spec, bool* take, void* reference) {
        Offers* offers = static_cast<Offers*>(reference);
        offers->seen.push_back(*spec);
        *take = offers->take;
        return offers->goOn ? 1 : 0;
    }

    std::set<uint32_t> SerialNumbers() const {
        std::set<uint32_t> serialNumbers;
        for (const linkSpec& spec : seen) {
            serialNumbers.insert(spec.serialNumber);
        }
        return serialNumbers;
    }
};

} // namespace

TEST(TCPIPDiscovery, OneDeviceIsOfferedWithWhatItReplied) {
    NetworkDevice one(0x40F5849A, 4, 17, 36895);
    Offers offers;
    EXPECT_EQ(aDiscovery_EnumerateModules(TCPIP, Offers::Callback, &offers, 0), 1);

    ASSERT_EQ(offers.seen.size(), 1u);
    const linkSpec& spec = offers.seen[0];
    EXPECT_EQ(spec.type, TCPIP);
    EXPECT_EQ(spec.serialNumber, 0x40F5849Au);
    EXPECT_EQ(spec.routerSerialNumber, 0x40F5849Au);
    EXPECT_EQ(spec.moduleAddress, 4u);
    EXPECT_EQ(spec.routerAddress, 4u);
    EXPECT_EQ(spec.model, 17u);
    EXPECT_EQ(spec.ip.ipAddress, qvtest::NetnsAddress());
    EXPECT_EQ(spec.ip.ipPort, 36895u);
    EXPECT_EQ(one.responder.RequestsAnswered(), 1u);
}

TEST(TCPIPDiscovery, EveryDeviceIsOfferedOnce) {
    NetworkDevice first(0x1A2B3C4D, 2, 13, 4001);
    NetworkDevice second(0x0BADCAFE, 6, 17, 4002);
    Offers offers;
    EXPECT_EQ(aDiscovery_EnumerateModules(TCPIP, Offers::Callback, &offers, 0), 2);
    EXPECT_EQ(offers.seen.size(), 2u);
    EXPECT_EQ(offers.SerialNumbers(), (std::set<uint32_t>{0x1A2B3C4D, 0x0BADCAFE}));
}

TEST(TCPIPDiscovery, CallbackThatStopsEndsTheSearch) {
    NetworkDevice first(0x1A2B3C4D, 2, 13, 4001);
    NetworkDevice second(0x0BADCAFE, 6, 17, 4002);
    for (bool take : {true, false}) {
        SCOPED_TRACE(take ? "taken" : "declined");
        Offers offers;
        offers.take = take;
        offers.goOn = false;
        EXPECT_EQ(aDiscovery_EnumerateModules(TCPIP, Offers::Callback, &offers, 0), take ? 1 : 0);
        EXPECT_EQ(offers.seen.size(), 1u);
    }
}

TEST(TCPIPDiscovery, DeclinedDevicesAreNotCounted) {
    NetworkDevice first(0x1A2B3C4D, 2, 13, 4001);
    NetworkDevice second(0x0BADCAFE, 6, 17, 4002);
    Offers offers;
    offers.take = false;
    EXPECT_EQ(aDiscovery_EnumerateModules(TCPIP, Offers::Callback, &offers, 0), 0);
    EXPECT_EQ(offers.seen.size(), 2u);
}

TEST(TCPIPDiscovery, NoDeviceNoOffer) {
    Offers offers;
    EXPECT_EQ(aDiscovery_EnumerateModules(TCPIP, Offers::Callback, &offers, 0), 0);
    EXPECT_TRUE(offers.seen.empty());
    EXPECT_EQ(aDiscovery_EnumerateModules(TCPIP, nullptr, nullptr, 0), 0);
}

TEST(TCPIPDiscovery, FindModuleHitAndMiss) {
    NetworkDevice first(0x1A2B3C4D, 2, 13, 4001);
    NetworkDevice second(0x0BADCAFE, 6, 17, 4002);

    linkSpec* found = aDiscovery_FindModule(TCPIP, 0x0BADCAFE, 0);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->type, TCPIP);
    EXPECT_EQ(found->serialNumber, 0x0BADCAFEu);
    EXPECT_EQ(found->moduleAddress, 6u);
    EXPECT_EQ(found->ip.ipPort, 4002u);
    EXPECT_EQ(aLinkSpec_Destroy(&found), aErrNone);

    EXPECT_EQ(aDiscovery_FindModule(TCPIP, 0x12345678, 0), nullptr);
}

TEST(TCPIPDiscovery, FindFirstModuleSkipsSerialNumberZero) {
    NetworkDevice unnamed(0, 2, 13, 4001);
    NetworkDevice named(0x1A2B3C4D, 6, 17, 4002);
    linkSpec* found = aDiscovery_FindFirstModule(TCPIP, 0);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->serialNumber, 0x1A2B3C4Du);
    aLinkSpec_Destroy(&found);
}

TEST(DiscoveryInterfaces, ListsTheNetworkInterfacesButNotLoopback) {
    uint32_t addresses[4] = {};
    ASSERT_EQ(aDiscovery_GetIPv4Interfaces(addresses, 4), 1);
    EXPECT_EQ(addresses[0], qvtest::NetnsAddress());
    EXPECT_EQ(aDiscovery_GetIPv4Interfaces(addresses, 0), 0);
    EXPECT_EQ(aDiscovery_GetIPv4Interfaces(nullptr, 4), 0);
}

// Takes the veth's address away and routes multicast through lo, so only loopback is left to send on;
// puts the rig's namespace back afterwards for the cases that follow in the same run.
struct LoopbackOnly {
    LoopbackOnly() : made(std::system("ip addr flush dev qvv0 && ip route add 224.0.0.0/4 dev lo") == 0) {}
    ~LoopbackOnly() {
        [[maybe_unused]] int status =
            std::system("ip route del 224.0.0.0/4 dev lo; ip addr add 198.18.0.1/24 dev qvv0");
    }
    bool made;
};

// With no interface but loopback, the one request goes out of the default interface.
TEST(TCPIPDiscovery, OnlyLoopbackSendsOnTheDefaultInterface) {
    LoopbackOnly loopbackOnly;
    ASSERT_TRUE(loopbackOnly.made);
    uint32_t addresses[4];
    ASSERT_EQ(aDiscovery_GetIPv4Interfaces(addresses, 4), 0);

    NetworkDevice local(0x1A2B3C4D, 2, 13, 4001, "127.0.0.1");
    Offers offers;
    EXPECT_EQ(aDiscovery_EnumerateModules(TCPIP, Offers::Callback, &offers, 0), 1);
    ASSERT_EQ(offers.seen.size(), 1u);
    EXPECT_EQ(offers.seen[0].ip.ipAddress, inet_addr("127.0.0.1"));
    EXPECT_EQ(local.responder.RequestsAnswered(), 1u);
}

TEST(TCPIPDiscovery, APeerThatNeverFallsSilentCannotHoldTheSearch) {
    // Junk datagrams at the reply port more often than the quiet time-out would ever expire.
    std::atomic<bool> flooding{true};
    std::thread flood([&flooding] {
        int fd = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(9889);
        to.sin_addr.s_addr = qvtest::NetnsAddress();
        const uint8_t junk[3] = {7, 7, 7};
        while (flooding) {
            sendto(fd, junk, sizeof(junk), 0, reinterpret_cast<sockaddr*>(&to), sizeof(to));
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        close(fd);
    });
    Offers offers;
    auto search = std::async(std::launch::async, [&offers] {
        return aDiscovery_EnumerateModules(TCPIP, Offers::Callback, &offers, 0);
    });
    bool ended = search.wait_for(std::chrono::seconds(60)) == std::future_status::ready;
    flooding = false;
    flood.join();
    ASSERT_TRUE(ended);
    EXPECT_EQ(search.get(), 0);
    EXPECT_TRUE(offers.seen.empty());
}
