#include "aTime.h"

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

namespace {

std::vector<uint32_t> pieces(uint64_t microseconds) {
    std::vector<uint32_t> taken;
    while (microseconds > 0)
        taken.push_back(aTime_NextSleepPiece(&microseconds));
    return taken;
}

TEST(Time, SleepPieces) {
    EXPECT_EQ(pieces(1500000), (std::vector<uint32_t>{999999, 500001}));
    EXPECT_EQ(pieces(999999), (std::vector<uint32_t>{999999}));
    EXPECT_EQ(pieces(1000000), (std::vector<uint32_t>{999999, 1}));
    EXPECT_EQ(pieces(1000), (std::vector<uint32_t>{1000}));
    EXPECT_TRUE(pieces(0).empty());
}

TEST(Time, SleepReturns) {
    EXPECT_EQ(aTime_MSSleep(0), aErrNone);
    EXPECT_EQ(aTime_MSSleep(2), aErrNone);
}

TEST(Time, TicksAreWallClockMilliseconds) {
    const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count();
    const uint64_t ticks = aTime_GetMSTicks();
    EXPECT_GE(ticks, static_cast<uint64_t>(now));
    EXPECT_LT(ticks, static_cast<uint64_t>(now) + 60000);
}

} // namespace
