#include "aDebugging.h"

#include <cstdarg>
#include <cstdio>

bool aQuorvantaDebuggingEnable = false;
uint32_t aQuorvantaDebuggingLevel = 0;

bool aDebugging_IsOn(uint32_t category) {
    return aQuorvantaDebuggingEnable && (aQuorvantaDebuggingLevel & category) != 0;
}

void aDebugging_Printf(uint32_t category, const char* format, ...) {
    if (!aDebugging_IsOn(category))
        return;
    va_list args;
    va_start(args, format);
    vprintf(format, args);
    va_end(args);
    fflush(stdout);
}
