// Opens a TCP link to an in-process simulated device, leaves it idle and reports the CPU time the
// whole process used meanwhile, as a share of one core. Fails when it is 1% or more.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>
#include <thread>

#include "SimDevice.h"
#include "SimTcpServer.h"
#include "aLink.h"

namespace {

constexpr double LIMIT_PERCENT = 1.0;
constexpr uint32_t LOOPBACK = 0x0100007F; // 127.0.0.1 in network byte order

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

} // namespace

int main(int argc, char** argv) {
    const double idleSeconds = argc > 1 ? atof(argv[1]) : 5.0;
    qvsim::SimDevice device;
    qvsim::SimTcpServer server(device);
    uint32_t link = aLink_CreateTCPIP(LOOPBACK, server.Port());
    if (link == 0) {
        fprintf(stderr, "could not connect to the simulated device\n");
        return 1;
    }
    // Let the start settle before measuring.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto wallStart = std::chrono::steady_clock::now();
    const double cpuStart = cpuSeconds();
    std::this_thread::sleep_for(std::chrono::duration<double>(idleSeconds));
    const double cpu = cpuSeconds() - cpuStart;
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
    const int status = aLink_GetStatus(link);
    aLink_Destroy(&link);

    const double percent = 100.0 * cpu / wall;
    printf("idle link (status %d): %.3f ms CPU in %.2f s = %.3f%% of one core (limit %.1f%%)\n", status,
           cpu * 1000.0, wall, percent, LIMIT_PERCENT);
    return percent < LIMIT_PERCENT ? 0 : 1;
}
