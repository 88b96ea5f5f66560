#include "NetnsRig.h"
#include "aMulticast.h"
#include "discover.h"
#include "zBeaconInterface.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstring>
#include <czmq.h>
#include <string>
#include <thread>
#include <vector>

namespace {

const uint32_t GROUP = inet_addr("224.0.0.7");

linkSpec Served(uint32_t serialNumber, const char* address) {
    linkSpec spec{};
    spec.type = AETHER;
    spec.serialNumber = serialNumber;
    spec.model = 13;
    spec.ip.ipAddress = inet_addr(address);
    spec.ip.ipPort = 40000;
    return spec;
}

// A sharing server on this machine: holds the request port of its offset and answers one request
// with its specifier.
struct LoopbackServer {
    LoopbackServer(uint16_t offset, const linkSpec& spec)
        : requests(aMulticast_Create(0, GROUP, static_cast<uint16_t>(9850 + offset), false)),
          replies(aMulticast_Create(0, GROUP, static_cast<uint16_t>(9950 + offset), true)) {
        answering = std::thread([this, spec] {
            uint8_t request[16] = {};
            int length = aMulticast_Receive(requests, request, sizeof(request));
            const uint8_t expected[] = {0xBA, 0xDC, 0xCD, 0xAB};
            if (length == 4 && std::memcmp(request, expected, 4) == 0) {
                aMulticast_Send(replies, &spec, sizeof(spec));
            }
        });
    }
    ~LoopbackServer() {
        answering.join();
        aMulticast_Destroy(&requests);
        aMulticast_Destroy(&replies);
    }
    aMulticast* requests;
    aMulticast* replies;
    std::thread answering;
};

uint8_t TakeAll(const linkSpec* spec, bool* take, void* reference) {
    static_cast<std::vector<linkSpec>*>(reference)->push_back(*spec);
    *take = true;
    return 1;
}

} // namespace

TEST(AetherDiscovery, LoopbackSearchTakesLocalServersOnce) {
    // A device served on this machine, a second server of the same device, and one served elsewhere.
    LoopbackServer local(1, Served(0x11223344, "127.0.0.1"));
    LoopbackServer again(6, Served(0x11223344, "127.0.0.1"));
    LoopbackServer remote(4, Served(0x55667788, "10.0.0.9"));
    ASSERT_NE(local.requests, nullptr);
    ASSERT_NE(remote.requests, nullptr);

    std::vector<linkSpec> found;
    EXPECT_EQ(aDiscovery_EnumerateModules(AETHER, TakeAll, &found, 0), 1);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].serialNumber, 0x11223344u);
    EXPECT_EQ(found[0].type, AETHER);
    EXPECT_EQ(found[0].ip.ipPort, 40000u);
}

TEST(AetherDiscovery, BeaconSearchHearsAServerOnItsInterface) {
    // A sharing server's beacon on the namespace's interface, sent as it would send it.
    ASSERT_TRUE(zBeaconInterface_setAndLock(qvtest::NETNS_ADDRESS_TEXT));
    zactor_t* server = zactor_new(zbeacon, nullptr);
    zBeaconInterface_unlock();
    ASSERT_NE(server, nullptr);
    zsock_send(server, "si", "CONFIGURE", 8585);
    char* hostname = zstr_recv(server);
    ASSERT_NE(hostname, nullptr);
    zstr_free(&hostname);
    linkSpec spec = Served(0x0A0B0C0D, qvtest::NETNS_ADDRESS_TEXT);
    zsock_send(server, "sbi", "PUBLISH", &spec, sizeof(spec), 50);

    const char* before = zBeaconInterface_get();
    std::string previous = before != nullptr ? before : "";
    std::vector<linkSpec> found;
    uint8_t taken = aDiscovery_EnumerateModules(AETHER, TakeAll, &found, qvtest::NetnsAddress());
    zstr_sendx(server, "SILENCE", nullptr);
    zactor_destroy(&server);

    // Heard many times, offered once; the search's own 20-byte beacon is no device.
    EXPECT_EQ(taken, 1);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].serialNumber, 0x0A0B0C0Du);
    EXPECT_EQ(zBeaconInterface_get(), previous);
}
