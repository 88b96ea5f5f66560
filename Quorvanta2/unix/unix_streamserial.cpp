#include "unix_streamserial.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

const uint32_t aSERIAL_BAUD_RATES[aSERIAL_BAUD_COUNT] = {2400,  4800,  9600,   19200,
                                                         38400, 57600, 115200, 230400};

namespace {

constexpr uint16_t kSerialCheck = 0xBEEF;
constexpr speed_t kSpeeds[aSERIAL_BAUD_COUNT] = {B2400,  B4800,  B9600,   B19200,
                                                 B38400, B57600, B115200, B230400};
// Slack on top of the time the line needs to carry a write, before a stalled port is given up on.
constexpr uint32_t kWriteMarginMs = 1000;

struct SerialRecord {
    uint32_t baudIndex;
    char path[4096];
    int descriptor;
    termios saved;
    termios applied;
    uint16_t check;
};

SerialRecord* _record(void* ref) {
    auto* record = static_cast<SerialRecord*>(ref);
    return record != nullptr && record->check == kSerialCheck ? record : nullptr;
}

// The port stays non-blocking: reads return at once either way, and a write to a peer that stopped
// reading must not hold the writer for ever.
aErr _open(SerialRecord* record, uint8_t parity, uint32_t characterSize, uint32_t stopBits) {
    record->descriptor = open(record->path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (record->descriptor < 0) {
        if (errno == ENOENT)
            return aErrNotFound;
        return errno == EACCES ? aErrPermission : aErrIO;
    }
    if (tcgetattr(record->descriptor, &record->saved) < 0) {
        close(record->descriptor);
        record->descriptor = -1;
        return aErrIO;
    }
    if (characterSize > 1 || stopBits > 1)
        return aErrParam;
    termios raw = record->saved;
    raw.c_iflag = IGNBRK | (parity ? IGNPAR : 0);
    raw.c_oflag = 0;
    raw.c_cflag = CREAD | CLOCAL | (parity ? PARENB : 0) | (characterSize == 0 ? CS8 : CS7) |
                  (stopBits == 1 ? CSTOPB : 0);
    raw.c_lflag = 0;
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 0;
    speed_t speed = record->baudIndex < aSERIAL_BAUD_COUNT ? kSpeeds[record->baudIndex] : B0;
    cfsetispeed(&raw, speed);
    cfsetospeed(&raw, speed);
    if (tcsetattr(record->descriptor, TCSANOW, &raw) < 0 || tcflush(record->descriptor, TCIOFLUSH) < 0)
        return aErrIO;
    record->applied = raw;
    return aErrNone;
}

aErr _serialGet(uint8_t* byte, void* ref) {
    SerialRecord* record = _record(ref);
    if (record == nullptr)
        return aErrParam;
    ssize_t got = read(record->descriptor, byte, 1);
    if (got == 1)
        return aErrNone;
    if (got == 0 || errno == EAGAIN || errno == EWOULDBLOCK)
        return aErrNotReady;
    return aErrIO;
}

uint32_t _writeAllowanceMs(const SerialRecord* record, size_t length) {
    uint64_t baud = aSERIAL_BAUD_RATES[record->baudIndex < aSERIAL_BAUD_COUNT ? record->baudIndex : 0];
    uint64_t lineMs = length * 10 * 1000 / baud;
    return static_cast<uint32_t>(lineMs > UINT32_MAX - kWriteMarginMs ? UINT32_MAX : lineMs + kWriteMarginMs);
}

aErr _serialWrite(const uint8_t* data, size_t length, void* ref) {
    SerialRecord* record = _record(ref);
    if (record == nullptr)
        return aErrParam;
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(_writeAllowanceMs(record, length));
    while (length > 0) {
        ssize_t written = write(record->descriptor, data, length);
        if (written > 0) {
            data += written;
            length -= static_cast<size_t>(written);
            continue;
        }
        if (written < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            return aErrIO;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return aErrIO;
        pollfd waiting{record->descriptor, POLLOUT, 0};
        poll(&waiting, 1, static_cast<int>(left));
    }
    return tcdrain(record->descriptor) == 0 ? aErrNone : aErrIO;
}

aErr _serialPut(const uint8_t* byte, void* ref) {
    return _serialWrite(byte, 1, ref);
}

// A port whose other end has hung up reports itself ready for ever with nothing to read; waiting out the
// time keeps the caller from spinning on it.
aErr _serialAwait(uint32_t timeoutMs, void* ref) {
    SerialRecord* record = _record(ref);
    if (record == nullptr)
        return aErrParam;
    const auto start = std::chrono::steady_clock::now();
    pollfd waiting{record->descriptor, POLLIN, 0};
    if (poll(&waiting, 1, static_cast<int>(timeoutMs)) <= 0)
        return aErrNotReady;
    if ((waiting.revents & (POLLHUP | POLLERR)) == 0)
        return aErrNone;
    return aStream_AwaitOutTheRest(start, timeoutMs);
}

aErr _serialDelete(void* ref) {
    SerialRecord* record = _record(ref);
    if (record == nullptr)
        return aErrParam;
    if (record->descriptor >= 0) {
        tcsetattr(record->descriptor, TCSANOW, &record->saved);
        close(record->descriptor);
    }
    record->check = 0;
    delete record;
    return aErrNone;
}

} // namespace

aErr aStream_CreateSerial(const char* path, uint32_t baudIndex, uint8_t parity, uint32_t characterSize,
                          uint32_t stopBits, aStream** stream) {
    if (stream == nullptr)
        return aErrResource;
    *stream = nullptr;
    if (path == nullptr || strlen(path) >= sizeof(SerialRecord::path) || characterSize > 1 || stopBits > 1)
        return aErrResource;
    auto* record = new (std::nothrow) SerialRecord{};
    if (record == nullptr)
        return aErrResource;
    record->baudIndex = baudIndex;
    strcpy(record->path, path);
    record->descriptor = -1;
    record->check = kSerialCheck;
    aStream* created = aStream_Create(_serialGet, _serialPut, _serialWrite, _serialDelete, record);
    if (created == nullptr) {
        _serialDelete(record);
        return aErrResource;
    }
    aErr err = _open(record, parity, characterSize, stopBits);
    if (err != aErrNone) {
        aStream_Destroy(&created);
        return err;
    }
    aStream_SetAwaitProc(created, _serialAwait);
    *stream = created;
    return aErrNone;
}
