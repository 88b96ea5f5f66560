#ifndef QUORVANTA_UNIX_STREAMSERIAL_H
#define QUORVANTA_UNIX_STREAMSERIAL_H

#include <cstdint>

#include "aStream.h"

// Baud-rate indexes 0 to 7 select 2400, 4800, 9600, 19200, 38400, 57600, 115200 and 230400; any other
// index sets the speed to 0.
constexpr uint32_t aSERIAL_BAUD_COUNT = 8;
extern const uint32_t aSERIAL_BAUD_RATES[aSERIAL_BAUD_COUNT];

// An open serial stream in raw mode. characterSize 0 is 8 data bits, 1 is 7; stopBits 0 is one stop bit,
// 1 is two; parity selects even parity. A port that cannot be opened or set up gives its opening code
// (aErrNotFound, aErrPermission, aErrIO); every other failure gives aErrResource.
aErr aStream_CreateSerial(const char* path, uint32_t baudIndex, uint8_t parity, uint32_t characterSize,
                          uint32_t stopBits, aStream** stream);

#endif
