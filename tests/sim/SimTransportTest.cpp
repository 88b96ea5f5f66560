#include "RawClient.h"
#include "SimDevice.h"
#include "SimPty.h"
#include "SimTcpServer.h"

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace qvsim;
using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

namespace {

SimIdentity _identity(uint8_t address) {
    SimIdentity identity;
    identity.moduleAddress = address;
    return identity;
}

} // namespace

TEST(SimTcpServer, AnswersAddressProbesAndFramesRepliesOverLoopback) {
    SimDevice device(_identity(6));
    device.RegisterCommand(
        23, [](const SimPacket& request, SimReplies& replies) { replies.Add(request.Data()); });
    SimTcpServer server(device);
    ASSERT_NE(server.Port(), 0);

    RawClient host = RawClient::Tcp(server.Port());
    // Six probes as a host sends them to synchronise, then a request split over two writes.
    host.Send(Bytes{0xAD, 0, 0xAD, 0, 0xAD, 0, 0xAD, 0, 0xAD, 0, 0xAD, 0, 6, 3, 23});
    host.Send(Bytes{0xAA, 0x55});
    EXPECT_EQ(host.Read(17), (Bytes{6, 0, 6, 0, 6, 0, 6, 0, 6, 0, 6, 0, 6, 3, 23, 0xAA, 0x55}));
    EXPECT_EQ(device.Record().probesAnswered, 6u);
}

TEST(SimTcpServer, ServesSeveralHostsAndStopsCleanly) {
    SimDevice device(_identity(2));
    auto server = std::make_unique<SimTcpServer>(device);
    RawClient first = RawClient::Tcp(server->Port());
    RawClient second = RawClient::Tcp(server->Port());
    first.Send(Bytes{0xAD, 0});
    second.Send(Bytes{0xAD, 0});
    EXPECT_EQ(first.Read(2), (Bytes{2, 0}));
    EXPECT_EQ(second.Read(2), (Bytes{2, 0}));
    ASSERT_TRUE(device.WaitFor([](const SimRecord& r) { return r.connectionsOpen == 2; }, 1s));

    uint16_t port = server->Port();
    server->Stop();
    EXPECT_EQ(device.Record().connectionsOpen, 0u);
    EXPECT_TRUE(first.SeesHangUp());
    EXPECT_THROW(RawClient::Tcp(port), std::runtime_error);
}

namespace {

size_t _entries(const char* directory) {
    auto entries = std::filesystem::directory_iterator(directory);
    return static_cast<size_t>(std::distance(begin(entries), end(entries)));
}

} // namespace

TEST(SimPty, IsRawBeforeTheHostOpensItAndOutlivesHostsThatClose) {
    char pattern[] = "/tmp/qvsim-XXXXXX";
    std::string directory = ::mkdtemp(pattern);
    std::string link = directory + "/quorvanta.1A2B3C4D";
    SimDevice device;
    {
        SimPty pty(device, link);
        EXPECT_EQ(std::filesystem::read_symlink(link), pty.SlavePath());
        // Bytes a cooked terminal would translate, echo or swallow, from a host that sets nothing.
        device.RegisterCommand(
            23, [](const SimPacket& request, SimReplies& replies) { replies.Add(request.Data()); });
        const Bytes awkward{2, 7, 23, 0x0D, 0x0A, 0x03, 0x11, 0x13, 0x7F};
        for (int round = 0; round < 2; ++round) {
            RawClient host = RawClient::Terminal(link);
            host.Send(awkward);
            EXPECT_EQ(host.Read(awkward.size()), awkward) << "round " << round;
        }
    }
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
    std::filesystem::remove_all(directory);
}

TEST(SimTransports, StopLeavesNoThreadOrDescriptorEvenWithADelayedReplyPending) {
    // Sanitizers start a helper thread of their own with the first thread; let that happen first.
    std::thread([] {}).join();
    size_t threads = _entries("/proc/self/task");
    size_t descriptors = _entries("/proc/self/fd");
    SimDevice device;
    device.Faults().SetReplyDelay(std::chrono::minutes(1));
    auto tcp = std::make_unique<SimTcpServer>(device);
    auto pty = std::make_unique<SimPty>(device);
    {
        RawClient overTcp = RawClient::Tcp(tcp->Port());
        RawClient overPty = RawClient::Terminal(pty->SlavePath());
        overTcp.Send(Bytes{0xAD, 0});
        overPty.Send(Bytes{0xAD, 0});
        ASSERT_TRUE(device.WaitFor([](const SimRecord& r) { return r.received.size() == 2; }, 1s));
        auto start = std::chrono::steady_clock::now();
        tcp.reset();
        pty.reset();
        EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    }
    EXPECT_EQ(device.Record().connectionsOpen, 0u);
    EXPECT_EQ(_entries("/proc/self/task"), threads);
    EXPECT_EQ(_entries("/proc/self/fd"), descriptors);
}

TEST(SimDeviceProgram, ServesTcpAndPtyUntilTerminatedAndCleansUp) {
    char pattern[] = "/tmp/qvsim-XXXXXX";
    std::string directory = ::mkdtemp(pattern);
    std::string portFile = directory + "/port";
    std::string link = directory + "/node";
    pid_t child = ::fork();
    if (child == 0) {
        ::execl(QV_BINARY_DIR "/bin/qv-sim-device", "qv-sim-device", "--tcp", "0", "--pty", "--link",
                link.c_str(), "--address", "8", "--port-file", portFile.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ASSERT_GT(child, 0);
    auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!std::filesystem::exists(portFile) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
    }
    unsigned port = 0;
    if (FILE* file = std::fopen(portFile.c_str(), "r")) {
        EXPECT_EQ(std::fscanf(file, "%u", &port), 1);
        std::fclose(file);
    }
    if (port != 0) {
        RawClient overTcp = RawClient::Tcp(static_cast<uint16_t>(port));
        overTcp.Send(Bytes{0xAD, 0});
        EXPECT_EQ(overTcp.Read(2), (Bytes{8, 0}));
        RawClient overPty = RawClient::Terminal(link);
        overPty.Send(Bytes{0xAD, 0});
        EXPECT_EQ(overPty.Read(2), (Bytes{8, 0}));
    } else {
        ADD_FAILURE() << "no port file";
    }
    ::kill(child, SIGTERM);
    int status = 0;
    for (deadline = std::chrono::steady_clock::now() + 5s;
         ::waitpid(child, &status, WNOHANG) == 0 && std::chrono::steady_clock::now() < deadline;) {
        std::this_thread::sleep_for(10ms);
    }
    if (::waitpid(child, &status, WNOHANG) == 0) {
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);
        ADD_FAILURE() << "did not stop on SIGTERM";
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
    std::filesystem::remove_all(directory);
}
