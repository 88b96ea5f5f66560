#include "aMulticast.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <cstring>

namespace {

const uint32_t GROUP = inet_addr("224.0.0.7");
constexpr uint16_t PORT = 9850;

} // namespace

TEST(Multicast, AReceiverHoldsItsPortAgainstASecond) {
    aMulticast* first = aMulticast_Create(0, GROUP, PORT, false);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(aMulticast_Create(0, GROUP, PORT, false), nullptr);
    EXPECT_EQ(aMulticast_Destroy(&first), 0);
    EXPECT_EQ(first, nullptr);

    aMulticast* again = aMulticast_Create(0, GROUP, PORT, false);
    EXPECT_NE(again, nullptr);
    aMulticast_Destroy(&again);
}

TEST(Multicast, SenderReachesReceiverOnLoopback) {
    aMulticast* receiver = aMulticast_Create(inet_addr("127.0.0.1"), GROUP, PORT, false);
    aMulticast* sender = aMulticast_Create(0, GROUP, PORT, true);
    ASSERT_NE(receiver, nullptr);
    ASSERT_NE(sender, nullptr);

    const unsigned char request[4] = {0xBA, 0xDC, 0xCD, 0xAB};
    EXPECT_EQ(aMulticast_Send(sender, request, sizeof(request)), 4);
    unsigned char received[128] = {};
    ASSERT_EQ(aMulticast_Receive(receiver, received, sizeof(received)), 4);
    EXPECT_EQ(std::memcmp(received, request, sizeof(request)), 0);

    aMulticast_Destroy(&sender);
    aMulticast_Destroy(&receiver);
}

TEST(Multicast, ReceiveWithNothingSentTimesOut) {
    aMulticast* receiver = aMulticast_Create(0, GROUP, PORT, false);
    ASSERT_NE(receiver, nullptr);
    unsigned char buffer[16];
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(aMulticast_Receive(receiver, buffer, sizeof(buffer)), -1);
    // It waited for the time-out rather than failing at once.
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
    aMulticast_Destroy(&receiver);
}

TEST(Multicast, WrongRoleOrNoObjectIsRefused) {
    aMulticast* receiver = aMulticast_Create(0, GROUP, PORT, false);
    aMulticast* sender = aMulticast_Create(0, GROUP, PORT, true);
    ASSERT_NE(receiver, nullptr);
    ASSERT_NE(sender, nullptr);
    unsigned char buffer[4] = {};

    EXPECT_EQ(aMulticast_Send(receiver, buffer, sizeof(buffer)), -3);
    EXPECT_EQ(aMulticast_Receive(sender, buffer, sizeof(buffer)), -3);
    EXPECT_EQ(aMulticast_Send(nullptr, buffer, sizeof(buffer)), -2);
    EXPECT_EQ(aMulticast_Receive(nullptr, buffer, sizeof(buffer)), -2);
    EXPECT_EQ(aMulticast_Receive(receiver, buffer, -1), -1);

    aMulticast_Destroy(&sender);
    aMulticast_Destroy(&receiver);
    EXPECT_EQ(aMulticast_Destroy(&receiver), -2);
    EXPECT_EQ(aMulticast_Destroy(nullptr), -2);
}

TEST(Multicast, UnusableInterfaceGivesNone) {
    // No interface of this namespace has the address, so the group cannot be joined on it.
    EXPECT_EQ(aMulticast_Create(inet_addr("203.0.113.9"), GROUP, PORT, false), nullptr);
    aMulticast* again = aMulticast_Create(0, GROUP, PORT, false);
    EXPECT_NE(again, nullptr) << "the failed create kept the port";
    aMulticast_Destroy(&again);
}
