#include "UpdaterDisplayInterface.h"

#include <cstdarg>
#include <cstdio>

namespace {

constexpr size_t MESSAGE_BUFFER_SIZE = 2048;

} // namespace

void UpdaterDisplayInterface::mute_messages(bool mute) {
    muted = mute;
}

void UpdaterDisplayInterface::message(int level, const char* format, ...) {
    if (muted)
        return;
    char text[MESSAGE_BUFFER_SIZE];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    if (level == ERROR)
        error_message(text);
    else
        info_message(text);
}
