#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <string>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

#include "LoopbackPeer.h"
#include "ResourceGuard.h"
#include "aStream.h"
#include "aStreamsocket.h"
#include "unix_streamserial.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string readAll(aStream* stream, size_t count) {
    std::string got;
    for (int rounds = 0; got.size() < count && rounds < 100; rounds++) {
        uint8_t byte;
        if (aStream_Read(stream, &byte, 1) == aErrNone)
            got.push_back(char(byte));
        else
            aStream_AwaitReadable(stream, 50);
    }
    return got;
}

const uint8_t* bytes(const std::string& text) {
    return reinterpret_cast<const uint8_t*>(text.data());
}

long msSince(Clock::time_point start) {
    return long(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// Every socket test must give back its descriptors.
class SocketStream : public ::testing::Test {
protected:
    void TearDown() override { guard.Verify(); }
    ResourceGuard guard;
};

} // namespace

TEST_F(SocketStream, ConnectingWhereNobodyListensGivesNoStream) {
    uint16_t closedPort;
    {
        LoopbackPeer gone;
        closedPort = gone.port;
    }
    aStream* stream = reinterpret_cast<aStream*>(1);
    EXPECT_EQ(aStream_CreateSocket(htonl(INADDR_LOOPBACK), closedPort, &stream), aErrResource);
    EXPECT_EQ(stream, nullptr);
}

TEST_F(SocketStream, CarriesBytesBothWaysAndWaitsForInput) {
    LoopbackPeer device;
    aStream* stream = nullptr;
    ASSERT_EQ(aStream_CreateSocket(htonl(INADDR_LOOPBACK), device.port, &stream), aErrNone);
    device.accept();

    uint8_t byte;
    EXPECT_EQ(aStream_Read(stream, &byte, 1), aErrNotReady);
    auto start = Clock::now();
    EXPECT_EQ(aStream_AwaitReadable(stream, 60), aErrNotReady);
    EXPECT_GE(msSince(start), 50);

    ASSERT_TRUE(device.send("hi"));
    EXPECT_EQ(aStream_AwaitReadable(stream, 5000), aErrNone);
    EXPECT_EQ(readAll(stream, 2), "hi");
    EXPECT_EQ(aStream_Write(stream, bytes("abc"), 3), aErrNone);
    EXPECT_EQ(device.receive(3), "abc");

    // A peer that hung up leaves the socket readable with nothing in it; the wait must not return early.
    device.closePeer();
    EXPECT_EQ(aStream_Read(stream, &byte, 1), aErrNotReady);
    start = Clock::now();
    EXPECT_EQ(aStream_AwaitReadable(stream, 60), aErrNotReady);
    EXPECT_GE(msSince(start), 50);
    EXPECT_EQ(aStream_Destroy(&stream), aErrNone);
}

TEST_F(SocketStream, WriteToAPeerThatStopsReadingGivesUp) {
    LoopbackPeer device;
    aStream* stream = nullptr;
    ASSERT_EQ(aStream_CreateSocket(htonl(INADDR_LOOPBACK), device.port, &stream), aErrNone);
    device.accept();
    std::vector<uint8_t> flood(64 * 1024 * 1024, 0x55);
    EXPECT_EQ(aStream_Write(stream, flood.data(), flood.size()), aErrBusy);
    aStream_Destroy(&stream);
}

TEST_F(SocketStream, ReconnectsAfterTheConnectionIsReset) {
    LoopbackPeer device;
    aStream* stream = nullptr;
    ASSERT_EQ(aStream_CreateSocket(htonl(INADDR_LOOPBACK), device.port, &stream), aErrNone);
    device.accept();
    linger reset{1, 0};
    setsockopt(device.peer, SOL_SOCKET, SO_LINGER, &reset, sizeof(reset));
    device.closePeer();
    uint8_t byte;
    EXPECT_EQ(aStream_Read(stream, &byte, 1), aErrNotReady);
    device.accept();
    EXPECT_EQ(aStream_Write(stream, bytes("ok"), 2), aErrNone);
    EXPECT_EQ(device.receive(2), "ok");
    aStream_Destroy(&stream);
}

class SerialStream : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
        tcgetattr(slave, &before);
    }
    void TearDown() override {
        aStream_Destroy(&stream);
        close(slave);
        close(master);
        guard.Verify();
    }

    ResourceGuard guard;
    int master = -1;
    int slave = -1;
    char name[256] = {};
    termios before{};
    aStream* stream = nullptr;
};

TEST_F(SerialStream, RefusesBadArgumentsAndMissingPorts) {
    EXPECT_EQ(aStream_CreateSerial(name, 2, 0, 0, 2, &stream), aErrResource);
    EXPECT_EQ(aStream_CreateSerial(name, 2, 0, 2, 0, &stream), aErrResource);
    EXPECT_EQ(aStream_CreateSerial(nullptr, 2, 0, 0, 0, &stream), aErrResource);
    EXPECT_EQ(aStream_CreateSerial("/nonexistent/ttyQV0", 2, 0, 0, 0, &stream), aErrNotFound);
    EXPECT_EQ(aStream_CreateSerial(name, 2, 0, 0, 0, nullptr), aErrResource);
    EXPECT_EQ(stream, nullptr);
}

TEST_F(SerialStream, IsRawWhileOpenAndRestoresThePortOnDestroy) {
    ASSERT_EQ(aStream_CreateSerial(name, 6, 1, 1, 1, &stream), aErrNone);
    termios applied{};
    tcgetattr(slave, &applied);
    EXPECT_EQ(applied.c_lflag & (ICANON | ECHO | ISIG), 0u);
    // A pty keeps its own character size and parity; the stop bits and modem-line setting stay as applied.
    EXPECT_EQ(applied.c_cflag & (CSTOPB | CLOCAL), tcflag_t(CSTOPB | CLOCAL));
    EXPECT_EQ(cfgetospeed(&applied), speed_t(B115200));

    uint8_t byte;
    auto start = Clock::now();
    EXPECT_EQ(aStream_Read(stream, &byte, 1), aErrNotReady);
    EXPECT_EQ(aStream_AwaitReadable(stream, 60), aErrNotReady);
    EXPECT_GE(msSince(start), 50);
    ASSERT_EQ(write(master, "xy", 2), 2);
    EXPECT_EQ(readAll(stream, 2), "xy");
    EXPECT_EQ(aStream_Write(stream, bytes("abc"), 3), aErrNone);
    char echoed[3];
    EXPECT_EQ(read(master, echoed, 3), 3);
    EXPECT_EQ(std::string(echoed, 3), "abc");

    EXPECT_EQ(aStream_Destroy(&stream), aErrNone);
    termios after{};
    tcgetattr(slave, &after);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_cflag, before.c_cflag);
}

TEST_F(SerialStream, PortWhoseOtherEndHungUpIsWaitedOnNotSpunOn) {
    ASSERT_EQ(aStream_CreateSerial(name, 6, 0, 0, 0, &stream), aErrNone);
    close(slave);
    close(master);
    slave = master = -1;
    uint8_t byte;
    EXPECT_EQ(aStream_Read(stream, &byte, 1), aErrNotReady);
    auto start = Clock::now();
    EXPECT_EQ(aStream_AwaitReadable(stream, 60), aErrNotReady);
    EXPECT_GE(msSince(start), 50);
}

TEST_F(SerialStream, WriteToAPeerThatStopsReadingGivesUp) {
    ASSERT_EQ(aStream_CreateSerial(name, 7, 0, 0, 0, &stream), aErrNone);
    // More than a pty holds while nobody reads its other end.
    std::vector<uint8_t> flood(32 * 1024, 0x55);
    EXPECT_EQ(aStream_Write(stream, flood.data(), flood.size()), aErrIO);
}
