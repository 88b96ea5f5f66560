#ifndef QUORVANTA_ADEBUGGING_H
#define QUORVANTA_ADEBUGGING_H

#include <cstdint>

// The library's own diagnostic printing to standard output. Nothing is printed unless the switch is on
// and the message's category bit is set in the level mask; the application never turns it on.
extern bool aQuorvantaDebuggingEnable;
extern uint32_t aQuorvantaDebuggingLevel;

// Category bits of aQuorvantaDebuggingLevel.
enum : uint32_t {
    aDEBUG_LINK = 0x00000001,
    aDEBUG_TRAFFIC = 0x00000002,
    aDEBUG_SERVER = 0x00000004,
    aDEBUG_MULTICAST = 0x00000008,
    aDEBUG_DISCOVERY = 0x00000010,
    aDEBUG_CLIENT = 0x00000020,
    aDEBUG_MODULE = 0x00000040,
    aDEBUG_BEACON = 0x00000200,
    aDEBUG_USB = 0x00000400,
};

// True when messages of any of the given category bits would be printed.
bool aDebugging_IsOn(uint32_t category);

// Prints the formatted message when aDebugging_IsOn(category).
void aDebugging_Printf(uint32_t category, const char* format, ...) __attribute__((format(printf, 2, 3)));

#endif
