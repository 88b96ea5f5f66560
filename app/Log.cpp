#include "Log.h"

#include <cstdarg>
#include <cstring>
#include <ctime>

uint32_t Log::package_bitmask = 0;
FILE* Log::fh = nullptr;
bool Log::timestamped = false;
const char* const Log::TIMESTAMP_FORMAT = "%Y:%m:%d:%H:%M:%S";
const char* const Log::SEPARATOR = " | ";

namespace {

constexpr size_t LINE_BUFFER_SIZE = 2048;
constexpr size_t STAMP_BUFFER_SIZE = 128;
// Short formats are fragments of a line (a lone "\n" and the like) and get no stamp of their own.
constexpr size_t SHORTEST_STAMPED_FORMAT = 11;

void _write_timestamp(FILE* out) {
    char stamp[STAMP_BUFFER_SIZE];
    time_t now = time(nullptr);
    struct tm utc;
    gmtime_r(&now, &utc);
    size_t length = strftime(stamp, sizeof(stamp), Log::TIMESTAMP_FORMAT, &utc);
    fwrite(stamp, 1, length, out);
    fwrite(Log::SEPARATOR, 1, strlen(Log::SEPARATOR), out);
}

} // namespace

void Log::log(uint32_t package, const char* format, ...) {
    if (package != 0 && (package & package_bitmask) == 0)
        return;
    FILE* out = fh;
    if (out == nullptr)
        return;
    // The stamp goes where its line goes: a line split between two streams would be of no use on either.
    if (timestamped && strlen(format) >= SHORTEST_STAMPED_FORMAT)
        _write_timestamp(out);

    char line[LINE_BUFFER_SIZE];
    va_list args;
    va_start(args, format);
    int wanted = vsnprintf(line, sizeof(line), format, args);
    va_end(args);
    if (wanted <= 0)
        return;
    size_t length =
        static_cast<size_t>(wanted) < sizeof(line) ? static_cast<size_t>(wanted) : sizeof(line) - 1;
    fwrite(line, 1, length, out);
}

void Log::SetOutput(FILE* stream) {
    fh = stream;
}

void Log::ActivatePackage(uint32_t mask) {
    package_bitmask |= mask;
}

void Log::DeactivatePackage(uint32_t mask) {
    package_bitmask &= ~mask;
}
