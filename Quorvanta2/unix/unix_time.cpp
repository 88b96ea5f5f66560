#include "aTime.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <sys/time.h>

namespace {

constexpr uint64_t MICROSECONDS_PER_MILLISECOND = 1000;
constexpr uint64_t MICROSECONDS_PER_SECOND = 1000000;

// Sleeps the whole piece, also when a signal interrupts it.
void sleepMicroseconds(uint32_t microseconds) {
    timespec remaining = {static_cast<time_t>(microseconds / MICROSECONDS_PER_SECOND),
                          static_cast<long>(microseconds % MICROSECONDS_PER_SECOND * 1000)};
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}

} // namespace

uint64_t aTime_GetMSTicks() {
    timeval now;
    if (gettimeofday(&now, nullptr) != 0)
        return 0;
    return static_cast<uint64_t>(now.tv_sec) * 1000 + static_cast<uint64_t>(now.tv_usec) / 1000;
}

uint32_t aTime_NextSleepPiece(uint64_t* remainingMicroseconds) {
    const uint64_t piece = std::min<uint64_t>(*remainingMicroseconds, aTIME_SLEEP_PIECE_MAX);
    *remainingMicroseconds -= piece;
    return static_cast<uint32_t>(piece);
}

aErr aTime_MSSleep(uint64_t milliseconds) {
    uint64_t remaining =
        std::min(milliseconds, UINT64_MAX / MICROSECONDS_PER_MILLISECOND) * MICROSECONDS_PER_MILLISECOND;
    while (remaining > 0)
        sleepMicroseconds(aTime_NextSleepPiece(&remaining));
    return aErrNone;
}
