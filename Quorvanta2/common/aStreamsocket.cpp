#include "aStreamsocket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <new>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>

#include "aTime.h"

namespace {

constexpr uint16_t kSocketCheck = 0xDEAD;
constexpr uint32_t kFlagConnected = 0x1;
constexpr uint32_t kCloseSettleMs = 10;

struct SocketRecord {
    uint16_t port;
    sockaddr_in address;
    std::atomic<int> descriptor{-1};
    std::atomic<uint32_t> flags{0};
    uint16_t check;
    // Reader and writer share the descriptor, and either may replace it by reconnecting: every use and
    // every replacement happens under this lock. The calls made under it do not block, except a
    // reconnect, which holds it for at most the connect time-out.
    std::mutex lock;
};

SocketRecord* _record(void* ref) {
    auto* record = static_cast<SocketRecord*>(ref);
    return record != nullptr && record->check == kSocketCheck ? record : nullptr;
}

bool _connected(const SocketRecord* record) {
    return (record->flags & kFlagConnected) != 0;
}

bool _connectionLost(int error) {
    return error == ECONNRESET || error == ENOTCONN || error == ETIMEDOUT;
}

void _close(SocketRecord* record) {
    record->flags &= ~kFlagConnected;
    int descriptor = record->descriptor.exchange(-1);
    if (descriptor >= 0) {
        close(descriptor);
        aTime_MSSleep(kCloseSettleMs);
    }
}

// Connects without blocking for longer than aSOCKET_CONNECT_TIMEOUT_MS: an address that swallows the
// connection request would otherwise hold the caller for the system's full retry time.
int _connectWithTimeout(int descriptor, const sockaddr_in& address) {
    if (fcntl(descriptor, F_SETFL, fcntl(descriptor, F_GETFL) | O_NONBLOCK) < 0)
        return errno;
    if (connect(descriptor, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0)
        return 0;
    if (errno != EINPROGRESS)
        return errno;
    pollfd waiting{descriptor, POLLOUT, 0};
    int ready;
    do {
        ready = poll(&waiting, 1, aSOCKET_CONNECT_TIMEOUT_MS);
    } while (ready < 0 && errno == EINTR);
    if (ready == 0)
        return ETIMEDOUT;
    if (ready < 0)
        return errno;
    int error = 0;
    socklen_t size = sizeof(error);
    if (getsockopt(descriptor, SOL_SOCKET, SO_ERROR, &error, &size) < 0)
        return errno;
    return error;
}

aErr _applyOptions(int descriptor) {
    int on = 1;
    timeval noTimeout{0, 0};
    linger resetOnClose{1, 0};
    if (setsockopt(descriptor, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on)) < 0 ||
        setsockopt(descriptor, SOL_SOCKET, SO_RCVTIMEO, &noTimeout, sizeof(noTimeout)) < 0 ||
        setsockopt(descriptor, SOL_SOCKET, SO_LINGER, &resetOnClose, sizeof(resetOnClose)) < 0 ||
        ioctl(descriptor, FIONBIO, &on) < 0)
        return aErrIO;
    return aErrNone;
}

// Caller holds the record's lock.
aErr _connect(SocketRecord* record) {
    _close(record);
    int descriptor = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (descriptor < 0)
        return aErrIO;
    int error = _connectWithTimeout(descriptor, record->address);
    if (error != 0) {
        close(descriptor);
        bool refused = error == EAGAIN || error == ECONNRESET || error == ETIMEDOUT || error == ECONNREFUSED;
        return refused ? aErrConnection : aErrIO;
    }
    record->descriptor = descriptor;
    record->flags |= kFlagConnected;
    aErr err = _applyOptions(descriptor);
    if (err != aErrNone)
        _close(record);
    return err;
}

aErr _socketGet(uint8_t* byte, void* ref) {
    SocketRecord* record = _record(ref);
    if (record == nullptr)
        return aErrParam;
    std::lock_guard<std::mutex> guard(record->lock);
    if (!_connected(record))
        return aErrConnection;
    ssize_t peeked = recv(record->descriptor, byte, 1, MSG_PEEK);
    if (peeked < 0 && _connectionLost(errno)) {
        aErr err = _connect(record);
        if (err != aErrNone)
            return err;
        peeked = recv(record->descriptor, byte, 1, MSG_PEEK);
    }
    if (peeked < 0)
        return errno == EAGAIN || errno == EWOULDBLOCK ? aErrNotReady : aErrConnection;
    if (peeked == 0)
        return aErrNotReady;
    if (recv(record->descriptor, byte, 1, 0) == 1)
        return aErrNone;
    if (errno == EAGAIN || errno == EWOULDBLOCK)
        return aErrEOF;
    return _connectionLost(errno) ? aErrNotReady : aErrIO;
}

// One send attempt: the bytes sent (0 when the socket had no room), or -1 with the write's end result.
ssize_t _sendOnce(SocketRecord* record, const uint8_t* data, size_t length, aErr* failure) {
    std::lock_guard<std::mutex> guard(record->lock);
    ssize_t sent = send(record->descriptor, data, length, MSG_NOSIGNAL);
    if (sent >= 0 || errno == EAGAIN || errno == EWOULDBLOCK)
        return sent < 0 ? 0 : sent;
    if (errno == EPIPE || errno == ECONNRESET || errno == ENOTCONN) {
        *failure = _connect(record);
        return *failure == aErrNone ? 0 : -1;
    }
    *failure = aErrIO;
    return -1;
}

aErr _socketWrite(const uint8_t* data, size_t length, void* ref) {
    SocketRecord* record = _record(ref);
    if (record == nullptr)
        return aErrParam;
    if (!_connected(record))
        return aErrConnection;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(aSOCKET_WRITE_DEADLINE_MS);
    uint32_t retries = 0;
    while (length > 0) {
        aErr failure = aErrNone;
        ssize_t sent = _sendOnce(record, data, length, &failure);
        if (sent < 0)
            return failure;
        if (sent > 0) {
            data += sent;
            length -= static_cast<size_t>(sent);
            retries = 1;
        } else {
            retries++;
        }
        if (length == 0)
            break;
        aTime_MSSleep(aSOCKET_RETRY_DELAY_MS);
        if (retries >= aSOCKET_MAX_SEND_RETRY || std::chrono::steady_clock::now() >= deadline)
            return aErrBusy;
    }
    return aErrNone;
}

aErr _socketPut(const uint8_t* byte, void* ref) {
    return _socketWrite(byte, 1, ref);
}

// An orderly close by the peer leaves the socket readable for ever with nothing to read; waiting out the
// time keeps the caller from spinning on it.
aErr _socketAwait(uint32_t timeoutMs, void* ref) {
    SocketRecord* record = _record(ref);
    if (record == nullptr || !_connected(record))
        return aErrNone;
    const auto start = std::chrono::steady_clock::now();
    pollfd waiting{record->descriptor, POLLIN, 0};
    int ready = poll(&waiting, 1, static_cast<int>(timeoutMs));
    if (ready <= 0)
        return aErrNotReady;
    if ((waiting.revents & POLLIN) == 0)
        return aErrNone;
    {
        std::lock_guard<std::mutex> guard(record->lock);
        uint8_t byte;
        if (recv(record->descriptor, &byte, 1, MSG_PEEK | MSG_DONTWAIT) != 0)
            return aErrNone;
    }
    return aStream_AwaitOutTheRest(start, timeoutMs);
}

aErr _socketDelete(void* ref) {
    SocketRecord* record = _record(ref);
    if (record == nullptr)
        return aErrParam;
    _close(record);
    record->check = 0;
    delete record;
    return aErrNone;
}

} // namespace

aErr aStream_CreateSocket(uint32_t address, uint16_t port, aStream** stream) {
    if (stream == nullptr)
        return aErrResource;
    *stream = nullptr;
    auto* record = new (std::nothrow) SocketRecord;
    if (record == nullptr)
        return aErrResource;
    record->port = port;
    record->address = {};
    record->address.sin_family = AF_INET;
    record->address.sin_port = htons(port);
    record->address.sin_addr.s_addr = address;
    record->check = kSocketCheck;
    aErr err;
    {
        std::lock_guard<std::mutex> guard(record->lock);
        err = _connect(record);
    }
    if (err == aErrNone)
        *stream = aStream_Create(_socketGet, _socketPut, _socketWrite, _socketDelete, record);
    if (*stream == nullptr) {
        _socketDelete(record);
        return aErrResource;
    }
    aStream_SetAwaitProc(*stream, _socketAwait);
    return aErrNone;
}
