#ifndef QUORVANTA_ATIME_H
#define QUORVANTA_ATIME_H

#include "aError.h"

#include <cstdint>

// Longest single sleep in microseconds.
#define aTIME_SLEEP_PIECE_MAX 999999

// Milliseconds of the wall clock since 1970; 0 when the clock cannot be read.
uint64_t aTime_GetMSTicks();

// Sleeps the given milliseconds in pieces of at most aTIME_SLEEP_PIECE_MAX microseconds.
aErr aTime_MSSleep(uint64_t milliseconds);

// The next piece of a piece-wise sleep, taken off the remaining microseconds.
uint32_t aTime_NextSleepPiece(uint64_t* remainingMicroseconds);

#endif
